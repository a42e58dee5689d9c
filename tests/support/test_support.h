// Helpers shared by the tests: captured log lines and a private sandbox root.
#pragma once

#include <string>
#include <vector>

namespace optad::test {

// Captures every log line (also DEBUG lines: the verbose flag is switched on
// while the capture lives, unless asked otherwise).
class LogCapture {
public:
    explicit LogCapture(bool verbose = true);
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    struct Line {
        int priority;
        std::string text;
    };
    std::vector<Line> lines() const;
    // All texts joined, one per line as logged.
    std::string text() const;
    // Number of lines equal to text (exactly).
    int count(const std::string &text) const;
    // Number of lines containing the fragment.
    int count_containing(const std::string &fragment) const;
    bool contains(const std::string &fragment) const { return count_containing(fragment) > 0; }
    void clear();

private:
    bool old_verbose_;
};

// A fresh temporary directory used as the sandbox root for fixed paths while
// the object lives; removed afterwards.
class SandboxRoot {
public:
    SandboxRoot();
    ~SandboxRoot();
    SandboxRoot(const SandboxRoot &) = delete;
    SandboxRoot &operator=(const SandboxRoot &) = delete;

    const std::string &dir() const { return dir_; }
    // The real path of a fixed path inside the sandbox.
    std::string path(const std::string &fixed) const { return dir_ + fixed; }
    // Writes a file at a fixed path (directories created).
    void write(const std::string &fixed, const std::string &content) const;
    // Reads a file at a fixed path ("" if missing; *exists tells).
    std::string read(const std::string &fixed, bool *exists = nullptr) const;

private:
    std::string dir_;
    std::string old_root_;
};

// Counts the times a file is replaced as a whole from the moment the
// counter is made: the daemon writes its files beside the target and
// renames them over it, so each replacement is one file moved into the
// directory under the target's name (watched with inotify). The directory
// must exist.
class FileReplacements {
public:
    explicit FileReplacements(const std::string &real_path);
    ~FileReplacements();
    FileReplacements(const FileReplacements &) = delete;
    FileReplacements &operator=(const FileReplacements &) = delete;

    // Replacements so far (the events already queued are read first).
    int count();

private:
    int fd_ = -1;
    std::string name_;
    int count_ = 0;
};

}  // namespace optad::test
