#pragma once
// What an independent reader (mdbtools, mdb-reader) prints for a file, kept on disk by the
// file's contents: the tests read the same bytes again and again (an intact corpus file in
// every case made from it, the same damaged copy in the plain and the sanitizer build), and
// each reading costs a process or a minute. Entries live in one folder shared by the builds
// (TARSOLIN_READER_CACHE; empty for none) and are written whole or not at all, so parallel
// test processes may share it.
#include <filesystem>
#include <string>

namespace readers {

struct Output {
    int exit_code = -1;  // -1 when the command did not exit normally
    std::string out;     // standard output (standard error discarded)
};

// Runs a shell command line, uncached: standard output captured, standard error discarded.
Output run(const std::string& command_line);
// `text` as one word of a POSIX shell command line.
std::string shell_quote(const std::string& text);

// Runs `before` + the quoted file + `after` in the shell, or gives what the same command
// printed before for the same bytes and the same reader versions.
Output run_on_file(const std::string& before, const std::filesystem::path& file, const std::string& after = "");

}  // namespace readers
