#include "shell_fixture.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "cfgmgr_access.h"
#include "cfgmgr_program.h"
#include "cli_command.h"
#include "cli_print.h"
#include "output_sink.h"

namespace shelltest {

namespace {

void capture(const char *data, std::size_t length) { captured().append(data, length); }

}  // namespace

std::string &captured()
{
    static std::string text;
    return text;
}

std::string take()
{
    std::string text;
    text.swap(captured());
    return text;
}

void ShellTest::SetUp()
{
    setenv("CFGMGR_DB", (dir_ + "/store").c_str(), 1);
    setenv("CFGMGR_LOG", (dir_ + "/argv.log").c_str(), 1);
#ifdef CFGMGR_STANDIN
    cli::set_cfgmgr_program(CFGMGR_STANDIN);
#endif
    cli::set_output_sink(capture);
    captured().clear();
    cli_print_mask = CLI_MASK_CLEAN;
    cli_silent_buffer_clear();
    cli_static_mode = 0;
    cli_set_hostname("router");
    current_directory = cli_root_directory;
    current_entry = cmd_home;
    build_prompt();
}

void ShellTest::TearDown()
{
    cli::set_output_sink(nullptr);
    cli::set_cfgmgr_program(nullptr);
}

int ShellTest::run(const std::string &line)
{
    std::string copy = line;
    copy.resize(std::max<std::size_t>(copy.size() + 1, CLI_LINE_SIZE), '\0');
    return execute_command_line(&copy[0]);
}

void ShellTest::store(const std::string &key, const std::string &value)
{
    ASSERT_EQ(cfgmgr_write(key.c_str(), value.c_str()), 0);
}

std::string ShellTest::argv_log() const
{
    std::ifstream in(dir_ + "/argv.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string ShellTest::write_file(const std::string &name, const std::string &text) const
{
    std::string path = dir_ + "/" + name;
    std::ofstream out(path);
    out << text;
    return path;
}

}  // namespace shelltest
