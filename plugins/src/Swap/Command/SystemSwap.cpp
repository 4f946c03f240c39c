// The "swap" setting of "system".
#include "Swap/Command/SystemSwap.h"

namespace Swap {
namespace Command {

namespace {
const ::Command::ErrorCodeEntry kErrors[] = {
    {0x809c0002u, "area"}, {0x809c0005u, "area"}, {0x809c000du, "size"}, {0x809c0003u, "size"},
    {0x809c0004u, "size"}, {0x809c0006u, "size"}, {0, nullptr},
};
constexpr uint32_t IN_PROGRESS = 0x009c000au;
}  // namespace

SystemSwap::SystemSwap(FileSystem::Repository &repository, Manager &manager)
    : Setting("system", "swap", 43, "set swap area", 1, kErrors), repository_(repository), manager_(manager)
{
}

ReturnT SystemSwap::Execute(::Command::Request &req, ::Command::Response &resp)
{
    if (req.No())
        return manager_.UnsetArea();
    const String area = req.Get("area");
    ReturnT r = manager_.SetArea(area, req.Get("size"));
    if (static_cast<uint32_t>(r) != 0x409c0003u)
        return r;
    progress_.reset(Core::New<::Command::Util::Progress>(area));
    if (!progress_) {
        manager_.StopInitializer();
        return StatusLog("lib::libzmoSwap").SetOom(0x004f);
    }
    resp.Continue();
    return r;
}

ReturnT SystemSwap::Finish_(::Command::Response &resp)
{
    Status &st = Status::Current();
    const ReturnT code = st.Code();
    if (resp.Node())
        st.AttachTo(*resp.Node());
    st.Reset();
    return code;
}

ReturnT SystemSwap::Continue(::Command::Request &, ::Command::Response &resp)
{
    const ReturnT code = manager_.LoadAreaStatus();
    if (static_cast<uint32_t>(code) == IN_PROGRESS && progress_) {
        if (resp.Node())
            progress_->Update(*resp.Node());
        resp.Continue();
        return code;
    }
    progress_.reset();
    return Finish_(resp);
}

ReturnT SystemSwap::Terminate(::Command::Request &, ::Command::Response &resp)
{
    manager_.StopInitializer();
    progress_.reset();
    manager_.LoadAreaStatus();
    return Finish_(resp);
}

ReturnT SystemSwap::GetConfig(::Command::Config &out)
{
    String area, size;
    if (Failed(manager_.GetArea(area, size)) || area.empty())
        return static_cast<ReturnT>(Code::DONE);
    out.Set("area", area);
    out.Set("size", size);
    out.End();
    return static_cast<ReturnT>(Code::DONE);
}

bool SystemSwap::GetArgumentParser(::Command::Argument::Parser &p)
{
    return p.Add(Core::New<::Command::Argument::Filename>("area", &repository_, 1, true)) &&
           p.Add(Core::New<::Command::Argument::Text>("size"));
}

}  // namespace Command
}  // namespace Swap
