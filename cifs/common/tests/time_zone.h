// Test helper: runs a scope under a fixed TZ and restores the old one.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

class TimeZone {
public:
    explicit TimeZone(const char *tz)
    {
        const char *old = std::getenv("TZ");
        had_ = old != nullptr;
        saved_ = old ? old : "";
        setenv("TZ", tz, 1);
        tzset();
    }
    ~TimeZone()
    {
        if (had_)
            setenv("TZ", saved_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string saved_;
    bool had_;
};
