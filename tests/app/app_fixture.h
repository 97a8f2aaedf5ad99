// The real `skerrow check` on a real Maildir in a fresh temporary folder.
// The run's settings and list file live in that folder too (XDG_CONFIG_HOME,
// XDG_DATA_HOME and HOME point there), so the user's own are never touched.
#pragma once

#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace skerrow::test {

// The user's address in every test.
inline constexpr const char* ownAddress = "me@home.example";

// A mail from the sender, its Message-ID <subject@test>.
std::string mailFrom(const std::string& sender, const std::string& subject, const std::string& to = ownAddress,
                     const std::string& body = "Hello.\n");

struct Outcome {
    int status = -1; // the exit status; 128 + the signal when one killed it
    std::string out;
    std::string err;
};

// Runs a program to its end with stdin read from input; collects its output.
// May be called from several threads at once.
Outcome runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                   const fs::path& input = "/dev/null");
// Starts a program with its output into the files; waitProgram reaps it.
pid_t startProgram(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                   const fs::path& out, const fs::path& err, const fs::path& input = "/dev/null");
// Its exit status, 128 + the signal when one killed it.
int waitProgram(pid_t pid);

// The program's path on PATH; nothing when it is not installed.
std::optional<fs::path> findProgram(const std::string& name);

// What `skerrow check` printed for the review window.
struct Review {
    std::vector<std::string> labels;
    struct Row {
        std::string from;
        std::string subject;
        std::string received;
    };
    std::vector<Row> rows;
};
Review parseReview(const std::string& out);

class CheckTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Removes the Maildir, settings and lists, and makes an empty Maildir.
    void freshStart();
    // Writes a message file (where: "new", "cur", ".Trash/cur"...).
    fs::path put(const std::string& where, const std::string& name, const std::string& content);
    // The file names in one subfolder of the Maildir, sorted.
    std::vector<std::string> files(const std::string& where) const;

    // The list file: friend addresses, friend domains, blacklisted addresses,
    // blacklisted domains, one CR LF line each.
    fs::path listFile() const;
    void writeLists(const std::vector<std::string>& friends, const std::vector<std::string>& friendDomains,
                    const std::vector<std::string>& enemies, const std::vector<std::string>& enemyDomains);
    // A value of the settings file; nothing when it is not there.
    std::optional<std::string> setting(const std::string& name) const;

    // Runs `skerrow check --maildir <maildir> args...`.
    Outcome check(const std::vector<std::string>& args = {}, bool withMaildir = true) const;
    std::vector<std::string> environment() const;

    // Every message of the Inbox and of .Trash by Message-ID, each with the
    // places its files were found ("new/NAME", ".Trash/cur/NAME"...).
    std::map<std::string, std::vector<std::string>> locate() const;

    fs::path dir;
    fs::path maildir;
    fs::path configHome;
    fs::path dataHome;
};

} // namespace skerrow::test
