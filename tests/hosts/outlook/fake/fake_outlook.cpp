#include "tests/hosts/outlook/fake/fake_outlook.h"

#include <algorithm>
#include <type_traits>

namespace skerrow::fake {

namespace {

constexpr long transportHeaders = 0x007D001E;

Value nothing() {
    return Value(static_cast<IDispatch*>(nullptr));
}

Ref makeCollection(std::function<int()> count, std::function<Value(int)> item) {
    Ref collection = FakeObject::make();
    collection->property("Count", [count](const Arguments&) { return Value(count()); });
    collection->method("Item", [count, item](const Arguments& a) {
        const long i = a.at(0).number();
        if (i < 1 || i > count())
            throw Failure{DISP_E_BADINDEX};
        return item(static_cast<int>(i - 1));
    });
    return collection;
}

// A collection over a list of the scene, which it reads when asked.
template <class T, class Make> Ref listOf(const std::vector<T>& items, Make make) {
    return makeCollection([&items] { return static_cast<int>(items.size()); },
                          [&items, make](int i) { return Value(make(items.at(static_cast<std::size_t>(i)))); });
}

// An object with constant text properties.
Ref withTexts(const std::string& typeName, std::initializer_list<std::pair<const char*, std::string>> texts) {
    Ref object = FakeObject::make(typeName);
    for (const auto& [name, text] : texts)
        object->property(name, [text](const Arguments&) { return Value(text); });
    return object;
}

template <class T> std::shared_ptr<T> alive(const std::weak_ptr<T>& weak) {
    auto strong = weak.lock();
    if (!strong)
        throw Failure{notFound};
    return strong;
}

} // namespace

FakeOutlook::FakeOutlook(bool office2000) : office2000_(office2000) {
    namespace_ = FakeObject::make("_NameSpace");
    namespace_->property("CurrentUser", [this](const Arguments&) {
        const std::string address = currentUser;
        Ref recipient = withTexts("Recipient", {{"Address", address}});
        if (!office2000_)
            recipient->property("AddressEntry",
                                [this, address](const Arguments&) { return Value(addressEntry(address)); });
        return Value(recipient);
    });
    namespace_->method("GetItemFromID", [this](const Arguments& a) {
        Mail mail = findMail(a.at(0).text());
        if (!mail || (a.size() >= 2 && !a[1].isMissing() && (!mail->folder || a[1].text() != mail->folder->storeID)))
            throw Failure{notFound};
        return Value(mailObject(mail));
    });
    if (!office2000_) {
        namespace_->property("Accounts", [this](const Arguments&) {
            return Value(
                listOf(accounts, [](const std::string& smtp) { return withTexts("_Account", {{"SmtpAddress", smtp}}); }));
        });
    }
    namespace_->method("GetDefaultFolder", [this](const Arguments& a) {
        switch (a.at(0).number()) {
        case 3: return Value(folderObject(deletedItems));
        case 6: return Value(folderObject(inbox));
        default: throw Failure{E_INVALIDARG};
        }
    });
    namespace_->property("AddressLists", [this](const Arguments&) {
        return Value(listOf(addressLists, [this](const std::vector<std::string>& entries) {
            Ref list = FakeObject::make("AddressList");
            list->property("AddressEntries", [this, &entries](const Arguments&) {
                return Value(listOf(entries, [this](const std::string& entry) { return addressEntry(entry); }));
            });
            return list;
        }));
    });

    commandBars_ = listOf(bars, [this](const Bar& bar) { return barObject(bar); });
    // Add(Name, Position, MenuBar, Temporary)
    commandBars_->method("Add", [this](const Arguments& a) {
        auto bar = std::make_shared<BarData>();
        bar->name = a.empty() || a[0].isMissing() ? "Custom" : a[0].text();
        bars.push_back(bar);
        return Value(barObject(bar));
    });

    explorer_ = FakeObject::make("_Explorer");
    explorer_->raises(published::explorerEvents);
    explorer_->property("CommandBars", [this](const Arguments&) { return Value(commandBars_); });
    explorer_->property("Selection", [this](const Arguments&) {
        if (selectionIsNothing)
            return nothing();
        return Value(listOf(selection, [this](const Mail& mail) { return mailObject(mail); }));
    });
    explorer_->property("CurrentFolder", [this](const Arguments&) {
        return currentFolder ? Value(folderObject(*currentFolder)) : nothing();
    });

    application_ = FakeObject::make("_Application");
    application_->answers(published::outlookApplication);
    application_->raises(published::applicationEvents);
    application_->method("ActiveExplorer",
                         [this](const Arguments&) { return hasExplorer ? Value(explorer_) : nothing(); });
    application_->property("Explorers", [this](const Arguments&) {
        return Value(makeCollection([this] { return explorers; }, [this](int) { return Value(explorer_); }));
    });
    application_->method("GetNamespace", [this](const Arguments& a) {
        if (a.at(0).text() != "MAPI")
            throw Failure{E_INVALIDARG};
        return Value(namespace_);
    });
}

Ref FakeOutlook::folderObject(FolderData& folder) {
    if (folder.object)
        return folder.object;
    Ref object = FakeObject::make("MAPIFolder");
    object->property("Name", [&folder](const Arguments&) { return Value(folder.name); });
    object->property("StoreID", [&folder](const Arguments&) { return Value(folder.storeID); });
    object->property("Items", [this, &folder](const Arguments&) {
        return Value(listOf(folder.items, [this](const Mail& mail) { return mailObject(mail); }));
    });
    folder.object = object;
    return object;
}

Ref FakeOutlook::mailObject(const Mail& mail) {
    if (mail->object)
        return mail->object;
    Ref object = FakeObject::make(mail->typeName);
    std::weak_ptr<MailData> weak = mail;
    auto text = [weak](std::string MailData::*field) {
        return [weak, field](const Arguments&) { return Value(alive(weak).get()->*field); };
    };
    object->property("EntryID", text(&MailData::entryID));
    object->property("Subject", text(&MailData::subject));
    object->property("Body", text(&MailData::body));
    object->property("HTMLBody", text(&MailData::htmlBody));
    object->property("To", text(&MailData::to));
    object->property(
        "UnRead", [weak](const Arguments&) { return Value(alive(weak)->unread); },
        [weak](const Value& v) { alive(weak)->unread = v.flag(); });
    object->property("ReceivedTime", [weak](const Arguments&) { return Value::date(alive(weak)->received); });
    object->property("Class", [weak](const Arguments&) { return Value(alive(weak)->itemClass); });
    if (!office2000_) {
        object->property("SenderEmailAddress", text(&MailData::sender));
        object->property("SenderEmailType", text(&MailData::senderType));
        object->property("Sender", [this, weak](const Arguments&) {
            return Value(addressEntry(alive(weak)->sender));
        });
        // The headers only under the Unicode tag, as today's stores keep them.
        object->property("PropertyAccessor", [weak](const Arguments&) {
            Ref accessor = FakeObject::make("_PropertyAccessor");
            accessor->method("GetProperty", [weak](const Arguments& a) {
                auto mail = alive(weak);
                if (a.at(0).text() != "http://schemas.microsoft.com/mapi/proptag/0x007D001F" || !mail->headers)
                    throw Failure{notFound};
                return Value(*mail->headers);
            });
            return Value(accessor);
        });
    }
    object->property("Parent", [this, weak](const Arguments&) {
        FolderData* folder = alive(weak)->folder;
        return folder ? Value(folderObject(*folder)) : nothing();
    });
    object->method("Delete", [this, weak](const Arguments&) {
        Mail m = alive(weak);
        if (m->folder)
            std::erase(m->folder->items, m);
        std::erase(selection, m);
        if (m->folder != &deletedItems) {
            m->folder = &deletedItems;
            deletedItems.items.push_back(m);
        } else {
            m->folder = nullptr;
        }
        return Value();
    });
    mail->object = object;
    return object;
}

Mail FakeOutlook::addMail(FolderData& folder, MailData data) {
    auto mail = std::make_shared<MailData>(std::move(data));
    if (mail->entryID.empty())
        mail->entryID = "entry-" + std::to_string(nextEntry_++);
    mail->folder = &folder;
    folder.items.push_back(mail);
    return mail;
}

Mail FakeOutlook::findMail(const std::string& entryID) const {
    for (const FolderData* folder : {&inbox, &deletedItems})
        for (const Mail& mail : folder->items)
            if (mail->entryID == entryID)
                return mail;
    return nullptr;
}

Ref FakeOutlook::addressEntry(const std::string& address) {
    Ref entry = withTexts("AddressEntry", {{"Address", address}});
    if (!office2000_) {
        entry->method("GetExchangeUser", [this, address](const Arguments&) {
            auto found = directory.find(address);
            if (found == directory.end())
                return nothing();
            return Value(withTexts("_ExchangeUser", {{"PrimarySmtpAddress", found->second}}));
        });
    }
    return entry;
}

Ref FakeOutlook::barObject(const Bar& bar) {
    if (bar->object)
        return bar->object;
    Ref object = FakeObject::make("CommandBar");
    std::weak_ptr<BarData> weak = bar;
    object->property("Name", [weak](const Arguments&) { return Value(alive(weak)->name); });
    object->property(
        "Visible", [weak](const Arguments&) { return Value(alive(weak)->visible); },
        [weak](const Value& v) { alive(weak)->visible = v.flag(); });
    object->property(
        "Position", [weak](const Arguments&) { return Value(alive(weak)->position); },
        [weak](const Value& v) { alive(weak)->position = v.number(); });
    object->property("Controls", [this, weak](const Arguments&) {
        return Value(controlsObject(alive(weak)->controls));
    });
    object->method("Delete", [this, weak](const Arguments&) {
        std::erase(bars, alive(weak));
        return Value();
    });
    bar->object = object;
    return object;
}

Ref FakeOutlook::controlsObject(std::vector<Control>& controls) {
    Ref object = listOf(controls, [this](const Control& control) { return controlObjectFor(control); });
    // Add(Type, Id, Parameter, Before, Temporary)
    object->method("Add", [this, &controls](const Arguments& a) {
        auto control = std::make_shared<ControlData>();
        control->type = a.empty() || a[0].isMissing() ? 1 : static_cast<int>(a[0].number());
        control->temporary = a.size() >= 5 && !a[4].isMissing() && a[4].flag();
        controls.push_back(control);
        return Value(controlObjectFor(control));
    });
    return object;
}

Ref FakeOutlook::controlObjectFor(const Control& control) {
    if (control->object)
        return control->object;
    const bool button = control->type == 1;
    Ref object = FakeObject::make(button ? "_CommandBarButton" : "CommandBarPopup");
    std::weak_ptr<ControlData> weak = control;
    // Every property put is logged as passed: "Caption=&Options", "Enabled=False", "Style=1".
    auto logged = [&object, weak](const char* name, auto ControlData::*field) {
        object->property(
            name, [weak, field](const Arguments&) { return Value(alive(weak).get()->*field); },
            [weak, field, name](const Value& v) {
                auto c = alive(weak);
                auto& value = c.get()->*field;
                if constexpr (std::is_same_v<std::remove_reference_t<decltype(value)>, std::string>)
                    value = v.text();
                else
                    value = static_cast<std::remove_reference_t<decltype(value)>>(v.number());
                c->log.push_back(std::string(name) + "=" + v.text());
            });
    };
    logged("Caption", &ControlData::caption);
    logged("TooltipText", &ControlData::tooltip);
    logged("BeginGroup", &ControlData::beginGroup);
    logged("Enabled", &ControlData::enabled);
    logged("Visible", &ControlData::visible);
    if (button) {
        object->raises(published::buttonEvents);
        logged("Style", &ControlData::style);
        object->method("PasteFace", [weak](const Arguments&) {
            auto c = alive(weak);
            // The face comes from the clipboard's bitmap.
            if (!::IsClipboardFormatAvailable(CF_BITMAP))
                throw Failure{E_FAIL};
            c->log.push_back("PasteFace");
            return Value();
        });
        if (!office2000_) {
            object->property(
                "Picture", [](const Arguments&) { return nothing(); },
                [weak](const Value& v) {
                    auto c = alive(weak);
                    IPictureDisp* picture = nullptr;
                    if (!v.object() ||
                        FAILED(v.object()->QueryInterface(IID_IPictureDisp, reinterpret_cast<void**>(&picture))))
                        throw Failure{DISP_E_TYPEMISMATCH};
                    picture->Release();
                    c->log.push_back("Picture");
                });
        }
    } else {
        object->property("Controls", [this, weak](const Arguments&) {
            return Value(controlsObject(alive(weak)->controls));
        });
    }
    control->object = object;
    return object;
}

Bar FakeOutlook::bar(const std::string& name) const {
    for (const Bar& b : bars)
        if (b->name == name)
            return b;
    return nullptr;
}

Control FakeOutlook::control(const std::string& caption) const {
    std::function<Control(const std::vector<Control>&)> search = [&](const std::vector<Control>& controls) -> Control {
        for (const Control& c : controls) {
            if (c->caption == caption)
                return c;
            if (Control inner = search(c->controls))
                return inner;
        }
        return nullptr;
    };
    for (const Bar& b : bars)
        if (Control found = search(b->controls))
            return found;
    return nullptr;
}

std::vector<HRESULT> FakeOutlook::closeExplorer() {
    auto results = explorer_->raise(published::explorerEvents, published::explorerClose);
    explorers = std::max(0, explorers - 1);
    return results;
}

std::vector<HRESULT> FakeOutlook::click(const std::string& caption, VARIANT_BOOL* cancelDefault) {
    Control button = control(caption);
    if (!button || !button->object)
        return {};
    VARIANT_BOOL ignored = VARIANT_FALSE;
    // Click(Ctrl, CancelDefault): the button and a Boolean by reference.
    const Value ctrl(button->object);
    VARIANT cancel{};
    cancel.vt = VT_BOOL | VT_BYREF;
    cancel.pboolVal = cancelDefault ? cancelDefault : &ignored;
    return button->object->raise(published::buttonEvents, published::click, {ctrl.get(), cancel});
}

Ref FakeOutlook::makeSession() {
    Ref session = FakeObject::make("Session");
    session->method("Logon", [this](const Arguments& a) {
        std::string entry = "Logon(";
        for (std::size_t i = 0; i < a.size(); ++i)
            entry.append(i ? "," : "").append(a[i].text());
        sessionLog.push_back(entry + ")");
        return Value();
    });
    session->method("Logoff", [this](const Arguments&) {
        if (FAILED(logoffFailure))
            throw Failure{logoffFailure};
        sessionLog.push_back("Logoff");
        return Value();
    });
    session->method("GetMessage", [this](const Arguments& a) {
        Mail mail = findMail(a.at(0).text());
        if (!mail || a.size() < 2 || !mail->folder || a[1].text() != mail->folder->storeID)
            throw Failure{notFound};
        std::weak_ptr<MailData> weak = mail;
        Ref message = FakeObject::make("Message");
        message->property("Sender",
                          [this, weak](const Arguments&) { return Value(addressEntry(alive(weak)->sender)); });
        message->property("Fields", [weak](const Arguments&) {
            Ref fields = FakeObject::make("Fields");
            fields->method("Item", [weak](const Arguments& f) {
                auto m = alive(weak);
                if (f.at(0).number() != transportHeaders || !m->headers)
                    throw Failure{notFound};
                return Value(withTexts("Field", {{"Value", *m->headers}}));
            });
            return Value(fields);
        });
        return Value(message);
    });
    return session;
}

} // namespace skerrow::fake
