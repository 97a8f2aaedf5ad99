// The mail client over COM: Outlook's object model, Office's command bars
// and the CDO messaging session, reached by late binding, as the host
// interface. Every failed call throws ComError (a host::HostError).
#pragma once

#include "addin/host/host.h"
#include "hosts/outlook/dispatch.h"

#include <functional>
#include <memory>
#include <string>

namespace skerrow::outlook {

struct HostOptions {
    // Runs after each face pasted from the clipboard, whether the paste
    // worked or not: the add-in puts back what the user had copied.
    std::function<void()> afterPasteFace;
};

// The client's object behind an adapter: every adapter derives from it
// beside its host class, so dynamic_cast<ComObject*> on any host object of
// this host finds it.
class ComObject {
public:
    explicit ComObject(Dispatch object) : object_(std::move(object)) {}
    virtual ~ComObject() = default;
    const Dispatch& dispatch() const { return object_; }

private:
    Dispatch object_;
};

// The object the client hands over at connection: the mail client's
// application when it answers Outlook's _Application interface, otherwise
// a plain object, which the add-in turns away. Nothing for nothing.
std::shared_ptr<host::Object> wrapConnectionObject(IDispatch* object, HostOptions options = {});

// The type name of an item as Visual Basic's TypeName gives it: the name of
// its type information without the leading "_" ("MailItem"), or, when the
// item has none, the name of its Class ("MeetingItem" for 53...).
std::string itemTypeName(const Dispatch& item);
// The Outlook type name of an OlObjectClass value; empty for an unknown one.
std::string classTypeName(int objectClass);

// Creates objects by programmatic identifier (CLSIDFromProgID, then
// CoCreateInstance): "MAPI.Session" gives a messaging session, any other
// class a plain object. Nothing when the class is not registered.
//
// Clients from Outlook 2010 on have no CDO: while a client's application is
// lent to the factory, a "MAPI.Session" that cannot be made is stood in for
// by a session over that client's own object model.
class ComObjectFactory : public host::ObjectFactory {
public:
    std::shared_ptr<host::Object> CreateObject(const std::string& className) override;
    // The client whose object model stands in for CDO; nothing to stop.
    void lendApplication(IDispatch* application) { application_ = ComPtr<IDispatch>(application); }

private:
    ComPtr<IDispatch> application_;
};

// The messaging session over the object model of the application's client:
// Logon and Logoff do nothing, a message is the client's own item.
std::shared_ptr<host::MessagingSession> objectModelSession(IDispatch* application);

} // namespace skerrow::outlook
