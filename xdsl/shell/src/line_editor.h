// Line editor of the interactive modes: raw keys in, echo bytes out, with
// history, TAB completion against the command tree and help on '?'.
#pragma once

#include <string>
#include <vector>

#include "cli_command.h"

namespace cli {

// What the word analysis found in a line (complete_word).
struct WordAnalysis {
    static constexpr std::size_t kMaxWords = 20;
    static constexpr std::size_t kMaxWordLength = 20;

    std::vector<std::string> words;
    bool ends_with_blank = false;
    bool empty = false;
    bool bad_word = false;
    bool incomplete = false;
    const cli_dir_row *reached = nullptr;      // null: the words end at a leaf
    std::vector<const cli_dir_row *> matched;  // one row per matched word
};

// Word analysis of text against the current directory.
WordAnalysis complete_word(const std::string &text);

// Rows of table matching word, exactly or by prefix; rows named "?..." never match.
std::vector<const cli_dir_row *> command_lookup(const cli_dir_row *table, const std::string &word,
                                                bool exact);

class LineEditor {
public:
    static constexpr std::size_t kMaxLine = CLI_LINE_SIZE - 1;

    enum class Status { Line, End, Signal };

    // The terminal's erase and kill characters (-1: none).
    void set_special_chars(int erase, int kill);

    // Reads one line from fd, echoing as it goes. The line has no newline.
    Status read_line(int fd, std::string &line);

    // Key by key, for callers that feed input themselves.
    void begin_line();
    bool feed(unsigned char key);  // true when the line is complete
    const std::string &line() const { return line_; }
    std::size_t cursor() const { return cursor_; }

private:
    struct Entry {
        bool has_text = false;
        std::string text;
    };

    bool handle_key(unsigned char key);
    void insert(char c);
    void backspace();
    void kill_line();
    void recall(bool older);
    void complete();
    void help();
    void newline();
    void redraw();
    void put(const std::string &s) { out_ += s; }
    void put(char c) { out_ += c; }
    void repeat(const char *s, std::size_t times);
    void flush();

    std::string line_;
    std::size_t cursor_ = 0;
    bool escape_ = false;
    bool bracket_ = false;
    bool after_delete_ = false;
    int erase_ = -1;
    int kill_ = -1;
    std::vector<Entry> history_;  // oldest first; the newest is the line being typed
    std::size_t browse_ = 0;
    bool reuse_last_ = false;
    std::string out_;
};

}  // namespace cli
