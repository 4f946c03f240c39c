#include "line_editor.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <cstdio>
#include <new>
#include <unistd.h>

#include "cli_print.h"
#include "signals.h"

namespace cli {

namespace {

const char kLeft[] = "\x1b[D";
const char kRight[] = "\x1b[C";
const char kRubOut[] = "\b \b";
constexpr std::size_t kCommonPrefixMax = 64;

std::string help_line(const cli_dir_row *row)
{
    char text[512];
    std::snprintf(text, sizeof text, "\n%-16s - %s\n", row->name, row->help);
    return text;
}

}  // namespace

std::vector<const cli_dir_row *> command_lookup(const cli_dir_row *table, const std::string &word, bool exact)
{
    std::vector<const cli_dir_row *> found;
    if (!table)
        return found;
    for (const cli_dir_row *row = table; row->name; row++) {
        if (row->name[0] == '?')
            continue;
        std::string name = row->name;
        bool match = exact ? name == word : name.compare(0, word.size(), word) == 0;
        if (match)
            found.push_back(row);
    }
    return found;
}

WordAnalysis complete_word(const std::string &text)
{
    WordAnalysis a;
    a.reached = current_directory;
    if (text.empty()) {
        a.empty = true;
        return a;
    }
    // Leading blanks dropped, runs of blanks folded into one.
    std::string copy;
    for (char c : text) {
        if (c == ' ' && (copy.empty() || copy.back() == ' '))
            continue;
        copy += c;
    }
    a.ends_with_blank = !copy.empty() && copy.back() == ' ';

    std::size_t start = 0;
    bool stopped = false;
    while (start < copy.size()) {
        std::size_t end = copy.find(' ', start);
        if (end == std::string::npos)
            end = copy.size();
        std::string word = copy.substr(start, end - start);
        if (word.size() > WordAnalysis::kMaxWordLength) {
            stopped = true;
            break;
        }
        a.words.push_back(word);
        start = end + 1;
    }
    if (a.ends_with_blank && !stopped)
        a.words.emplace_back();
    if (a.words.size() > WordAnalysis::kMaxWords) {
        // More words than the analysis keeps: nothing sensible to offer.
        a.bad_word = true;
        return a;
    }

    for (std::size_t i = 0; i < a.words.size(); i++) {
        const std::string &word = a.words[i];
        bool last = i + 1 == a.words.size();
        if (word.empty() && last && a.ends_with_blank)
            break;  // the word still to be typed
        std::vector<const cli_dir_row *> rows = command_lookup(a.reached, word, true);
        if (rows.empty()) {
            if (last && !a.ends_with_blank)
                a.incomplete = true;
            else
                a.bad_word = true;
            break;
        }
        const cli_dir_row *row = rows.front();
        if (!row->subdirectory && !last) {
            a.bad_word = true;
            a.incomplete = true;
            break;
        }
        a.matched.push_back(row);
        a.reached = row->subdirectory;
    }
    return a;
}

void LineEditor::set_special_chars(int erase, int kill)
{
    erase_ = erase;
    kill_ = kill;
}

void LineEditor::repeat(const char *s, std::size_t times)
{
    for (std::size_t i = 0; i < times; i++)
        out_ += s;
}

void LineEditor::flush()
{
    if (!out_.empty()) {
        cli_write_raw(out_.data(), out_.size());
        out_.clear();
    }
    std::fflush(stdout);
}

void LineEditor::begin_line()
{
    line_.clear();
    cursor_ = 0;
    if (reuse_last_ && !history_.empty())
        history_.back() = Entry();
    else
        history_.emplace_back();
    reuse_last_ = false;
    browse_ = history_.size() - 1;
}

LineEditor::Status LineEditor::read_line(int fd, std::string &line)
{
    begin_line();
    flush();
    // SIGINT and SIGBUS are let in only while waiting for a key: a signal
    // that came just before a blocking read would otherwise wait for the
    // next key to be noticed.
    sigset_t block, original;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGBUS);
    sigprocmask(SIG_BLOCK, &block, &original);
    sigset_t waiting = original;
    sigdelset(&waiting, SIGINT);
    sigdelset(&waiting, SIGBUS);
    Status status = Status::End;
    for (;;) {
        if (pending_signal()) {
            status = Status::Signal;
            break;
        }
        struct pollfd p = {fd, POLLIN, 0};
        int ready = ppoll(&p, 1, nullptr, &waiting);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        unsigned char key;
        ssize_t n = read(fd, &key, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (feed(key)) {
            line = line_;
            status = Status::Line;
            break;
        }
    }
    sigprocmask(SIG_SETMASK, &original, nullptr);
    return status;
}

bool LineEditor::feed(unsigned char key)
{
    bool done = handle_key(key);
    flush();
    return done;
}

bool LineEditor::handle_key(unsigned char key)
{
    // The Delete key sends ESC [ 3 ~: the "~" belongs to the sequence.
    bool after_delete = after_delete_;
    after_delete_ = false;
    if (after_delete && key == '~')
        return false;
    if (escape_ && bracket_) {
        escape_ = bracket_ = false;
        switch (key) {
        case 'A':
            recall(true);
            return false;
        case 'B':
            recall(false);
            return false;
        case 'C':
            if (cursor_ < line_.size()) {
                put(kRight);
                cursor_++;
            }
            return false;
        case 'D':
            if (cursor_ > 0) {
                put(kLeft);
                cursor_--;
            }
            return false;
        case '3':
            backspace();
            after_delete_ = true;
            return false;
        default:
            break;  // not a sequence we know: the key is handled as itself
        }
    }
    if (key == 0x1b) {
        escape_ = true;
        bracket_ = false;
        return false;
    }
    if (key == '[' && escape_) {
        bracket_ = true;
        return false;
    }
    // Any other key ends an escape sequence; a stale half sequence must not
    // turn a later ESC and letter into an arrow key.
    escape_ = bracket_ = false;

    switch (key) {
    case '\n':
        newline();
        return true;
    case '\t':
        complete();
        return false;
    case '?':
        help();
        return false;
    default:
        break;
    }
    if (key == 0x7f || key == 0x08 || static_cast<int>(key) == erase_)
        backspace();
    else if (static_cast<int>(key) == kill_)
        kill_line();
    else
        insert(static_cast<char>(key));
    return false;
}

void LineEditor::newline()
{
    put('\n');
    if (line_.empty()) {
        reuse_last_ = true;
        return;
    }
    try {
        history_.back().text = line_;
        history_.back().has_text = true;
    } catch (const std::bad_alloc &) {
        put("Memory allocation error!!\n");
    }
}

void LineEditor::insert(char c)
{
    if (line_.size() >= kMaxLine)
        return;  // dropped without echo
    if (cursor_ == line_.size()) {
        line_ += c;
        put(c);
    } else {
        line_.insert(cursor_, 1, c);
        std::size_t after = line_.size() - cursor_ - 1;
        put(line_.substr(cursor_));
        repeat(kLeft, after);
    }
    cursor_++;
}

void LineEditor::backspace()
{
    if (cursor_ == 0)
        return;
    if (cursor_ == line_.size()) {
        line_.pop_back();
        put(kRubOut);
    } else {
        line_.erase(cursor_ - 1, 1);
        std::size_t after = line_.size() - (cursor_ - 1);
        put('\b');
        put(line_.substr(cursor_ - 1));
        put(" \b");
        repeat(kLeft, after);
    }
    cursor_--;
}

void LineEditor::kill_line()
{
    if (cursor_ < line_.size())
        repeat(kRight, line_.size() - cursor_);
    repeat(kRubOut, line_.size());
    line_.clear();
    cursor_ = 0;
}

void LineEditor::recall(bool older)
{
    if (older ? browse_ == 0 : browse_ + 1 >= history_.size())
        return;
    history_[browse_].text = line_;
    history_[browse_].has_text = true;
    browse_ = older ? browse_ - 1 : browse_ + 1;
    const Entry &entry = history_[browse_];
    std::string text = entry.has_text ? entry.text : std::string();

    // Erase what is shown, then show the recalled text.
    repeat(kRight, line_.size() - cursor_);
    if (text.size() < line_.size()) {
        repeat(kRubOut, line_.size() - text.size());
        repeat("\b", text.size());
    } else {
        repeat("\b", line_.size());
    }
    put(text);
    line_ = text;
    cursor_ = line_.size();
}

void LineEditor::redraw()
{
    put(cli_prompt());
    put(line_);
}

void LineEditor::complete()
{
    std::string aside = line_.substr(cursor_);
    line_.resize(cursor_);
    WordAnalysis a = complete_word(line_);

    bool last_exact = !a.empty && !a.ends_with_blank && !a.incomplete && !a.bad_word && !a.words.empty() &&
                      a.matched.size() == a.words.size();
    if (last_exact && line_.size() < kMaxLine) {
        line_ += ' ';
        put(' ');
    }

    if (!a.reached && !a.matched.empty()) {
        put(help_line(a.matched.back()));
        redraw();
    } else if (!a.bad_word) {
        // After a whole word and its blank the next word is still empty.
        std::string word =
            (a.empty || a.ends_with_blank || last_exact || a.words.empty()) ? std::string() : a.words.back();
        std::vector<const cli_dir_row *> candidates = command_lookup(a.reached, word, false);
        if (candidates.size() == 1) {
            std::string add = std::string(candidates.front()->name).substr(word.size());
            if (a.incomplete && !a.ends_with_blank)
                add += ' ';
            if (line_.size() + add.size() <= kMaxLine) {
                line_ += add;
                put(add);
            }
        } else if (candidates.size() > 1) {
            put('\n');
            std::string common = candidates.front()->name;
            for (const cli_dir_row *row : candidates) {
                char text[512];
                std::snprintf(text, sizeof text, "%-16s - %s\n", row->name, row->help);
                put(text);
                std::string name = row->name;
                std::size_t n = 0;
                while (n < common.size() && n < name.size() && common[n] == name[n])
                    n++;
                common.resize(n);
            }
            if (common.size() > kCommonPrefixMax)
                common.resize(kCommonPrefixMax);
            if (common.size() > word.size() && line_.size() + common.size() - word.size() <= kMaxLine)
                line_ += common.substr(word.size());
            put('\n');
            redraw();
        }
    }

    // The text after the cursor comes back, the cursor stays before it.
    if (line_.size() + aside.size() > kMaxLine)
        aside.resize(kMaxLine - line_.size());
    line_ += aside;
    put(aside);
    repeat(kLeft, aside.size());
    cursor_ = line_.size() - aside.size();
}

void LineEditor::help()
{
    WordAnalysis a = complete_word(line_);
    if (a.bad_word && a.incomplete)
        return;
    if (!a.reached && !a.matched.empty()) {
        put(help_line(a.matched.back()));
    } else {
        put('\n');
        flush();
        for (const cli_dir_row *row = current_directory; row->name; row++)
            if (row->name[0] != '?')
                cli_print(CLI_LEVEL_ORDINARY, "%-16s - %s", row->name, row->help);
    }
    redraw();
    repeat(kLeft, line_.size() - cursor_);
}

}  // namespace cli
