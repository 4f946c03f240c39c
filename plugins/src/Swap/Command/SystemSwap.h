// "system swap AREA SIZE": the swap area setting and its progress.
#ifndef SWAP_COMMAND_SYSTEMSWAP_H
#define SWAP_COMMAND_SYSTEMSWAP_H

#include "Swap/Manager.h"

namespace Swap {
namespace Command {

class SystemSwap : public ::Command::Setting {
public:
    SystemSwap(FileSystem::Repository &repository, Manager &manager);
    ReturnT Execute(::Command::Request &req, ::Command::Response &resp) override;
    ReturnT GetConfig(::Command::Config &out) override;
    ReturnT Continue(::Command::Request &req, ::Command::Response &resp) override;
    ReturnT Terminate(::Command::Request &req, ::Command::Response &resp) override;
    bool GetArgumentParser(::Command::Argument::Parser &p) override;
    const char *Name() const override { return "Swap::Command::SystemSwap"; }

private:
    ReturnT Finish_(::Command::Response &resp);
    FileSystem::Repository &repository_;
    Manager &manager_;
    AutoPtr<::Command::Util::Progress> progress_;
};

}  // namespace Command
}  // namespace Swap

#endif
