// The swap manager: the "swap" setting's area on a USB volume, on while
// the volume is there, made in the background when it has to be.
#ifndef SWAP_MANAGER_H
#define SWAP_MANAGER_H

#include "Swap/Initializer.h"

namespace Swap {

class Manager : public Core::Module::Component {
public:
    static constexpr const char *IDENT = "Swap::Manager";
    static constexpr uint32_t MIN_KB = 16;
    static constexpr uint32_t MAX_KB = 2097152;
    enum FlagT : uint32_t { PRESENT = 1, ON = 2 };

    Manager(FileSystem::Repository &repository, const Core::RandomNumberGenerator &random);
    ~Manager() override;
    const char *Ident() const override { return IDENT; }

    ReturnT SetArea(const String &area, const String &size);
    ReturnT UnsetArea();
    ReturnT GetArea(String &area, String &size);
    void StopInitializer();
    ReturnT LoadAreaStatus();
    bool Initialized() const { return initialized_; }

private:
    ReturnT TurnOn_(const String &area, uint32_t size, bool save);
    ReturnT TurnOff_();
    void CancelInitializer_(bool clear);
    bool Concerns_(const Event::Fs &e) const;
    void OnFs_(const Event::Fs &e);
    void OnTaskDone_(const Event::TaskDone &e);

    FileSystem::Repository &repository_;
    const Core::RandomNumberGenerator &random_;
    String area_;
    uint32_t size_ = 0;
    uint32_t flags_ = 0;
    AutoPtr<Task::Queue> queue_;
    AutoPtr<Initializer_> initializer_;
    Status status_;
    Event::Delegate delegate_;
    bool initialized_ = false;
    bool subscribed_ = false;
    Mutex mutex_;
};

}  // namespace Swap

#endif
