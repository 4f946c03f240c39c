// The module object of the swap-file support and the library's one export.
#include "Swap/Command/SystemSwap.h"
#include "Swap/Manager.h"

namespace lib {

namespace {
const char *const kSource = "lib::libzmoSwap";
}

class libzmoSwap : public Core::Module::Object {
public:
    libzmoSwap() : Object("libzmoSwap", "\"Swap file support\"", "libzmoCorePack", "libzmoCore", 15) {}

    ReturnT Initialize() override
    {
        auto *repo = static_cast<FileSystem::Repository *>(Core::Core::Find_(FileSystem::Repository::IDENT));
        auto *random =
            static_cast<Core::RandomNumberGenerator *>(Core::Core::Find_(Core::RandomNumberGenerator::IDENT));
        if (!repo || !random) {
            // Not fatal for the core: it runs on without swap.
            StatusLog(0xcffd001au, 3, kSource, "unable to register swap manager");
            return StatusLog(kSource).SetDone(0x0024);
        }
        auto *manager = Core::New<Swap::Manager>(*repo, *random);
        if (manager && !manager->Initialized()) {
            delete manager;
            manager = nullptr;
        }
        if (!Register(manager))
            return Fail_();
        auto *setting = Core::New<Swap::Command::SystemSwap>(*repo, *manager);
        if (setting && !setting->Initialized()) {
            delete setting;
            setting = nullptr;
        }
        if (!Register(setting))
            return Fail_();
        return StatusLog(kSource).SetDone(0x0024);
    }

private:
    ReturnT Fail_()
    {
        Cleanup();
        return StatusLog(0xcffd0021u, 3, kSource, "unable to register swap manager");
    }
};

libzmoSwap g_module;

}  // namespace lib

extern "C" ZMOCORE_API Core::Module::Object *libzmoSwapObject() { return &lib::g_module; }
