// A Maildir++ store in a fresh temporary folder, removed after the test.
#pragma once

#include "hosts/maildir/maildir_host.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace skerrow::test {

inline const std::vector<std::string> plainHeaders = {"From: Ann <ann@example.org>", "To: john.smith@example.com",
                                                      "Subject: hello"};

class MaildirTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = makeTempDir("skerrow-maildir");
        for (const char* sub : {"cur", "new", "tmp"})
            fs::create_directory(root / sub);
    }
    void TearDown() override {
        host_.reset(); // lets the moves under way end first
        fs::remove_all(root);
    }

    // Writes a file as a delivery agent would leave it; returns its path.
    fs::path put(const std::string& where, const std::string& name, const std::string& content) {
        writeFile(root / where / name, content);
        return root / where / name;
    }

    maildir::MaildirHost& host(std::optional<std::string> address = std::nullopt,
                               std::vector<std::string> contacts = {}) {
        host_ = std::make_unique<maildir::MaildirHost>(
            maildir::MaildirOptions{root.string(), std::move(address), std::move(contacts)});
        return *host_;
    }

    std::shared_ptr<host::Namespace> mapi() { return (host_ ? *host_ : host()).application()->GetNamespace("MAPI"); }
    std::shared_ptr<host::Folder> inbox() { return mapi()->GetDefaultFolder(host::olFolderInbox); }
    std::shared_ptr<host::Folder> trash() { return mapi()->GetDefaultFolder(host::olFolderDeletedItems); }

    std::vector<std::shared_ptr<host::MailItem>> mails(const std::shared_ptr<host::Folder>& folder) {
        std::vector<std::shared_ptr<host::MailItem>> result;
        for (const auto& item : folder->Items())
            if (auto mail = host::asMailItem(item))
                result.push_back(mail);
        return result;
    }
    std::map<std::string, std::shared_ptr<host::MailItem>> byEntryID(const std::vector<std::shared_ptr<host::MailItem>>& all) {
        std::map<std::string, std::shared_ptr<host::MailItem>> result;
        for (const auto& mail : all)
            result[mail->EntryID()] = mail;
        return result;
    }
    std::shared_ptr<host::MailItem> onlyMail() {
        auto all = mails(inbox());
        if (all.size() != 1)
            throw std::runtime_error("expected one mail, found " + std::to_string(all.size()));
        return all.front();
    }

    std::shared_ptr<host::MessagingSession> session() {
        auto session = std::dynamic_pointer_cast<host::MessagingSession>(
            (host_ ? *host_ : host()).objects().CreateObject("MAPI.Session"));
        session->Logon("", "", false, false);
        return session;
    }
    std::shared_ptr<host::Message> message(const std::string& entryID) {
        return session()->GetMessage(entryID, host_->storeID());
    }
    // The header block the session gives for the message.
    std::string headersOf(const std::string& entryID) {
        return message(entryID)->Fields(host::prTransportMessageHeaders)->Value();
    }

    std::vector<std::string> files(const std::string& where) { return fileNames(root / where); }

    fs::path root;

private:
    std::unique_ptr<maildir::MaildirHost> host_;
};

} // namespace skerrow::test
