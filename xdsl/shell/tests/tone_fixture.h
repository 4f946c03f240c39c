// A trained line on the fake device for the per-tone tests: band plan,
// segment status entries as chip words, the bit and gain allocation served
// by segment selection, and the shell's waits recorded instead of slept.
#pragma once

#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "fake_device.h"
#include "shell_fixture.h"
#include "sleep_recorder.h"
#include "vdsl.h"

namespace shelltest {

class ToneTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fakedev::reset();
        SleepRecorder::waits().clear();
        dev.state = VDSL_STATE_SHOWTIME;
        value("0.1.26", 2);     // profile 8b: groups of eight tones
        value("0.4.2", 32768);  // HLIN scale
        // Every entry 512 words at its own X address, all "not available".
        int k = 0;
        for (const char *oid : {"0.6.2", "0.6.3", "0.6.4", "0.6.5", "0.6.6", "0.6.7"}) {
            dev.lengths[oid] = 512;
            dev.addresses[oid] = 0x2000 + 0x400 * static_cast<unsigned>(k++);
        }
        words("0.6.2", std::vector<unsigned>(512, 0x008000));
        words("0.6.3", std::vector<unsigned>(512, 0x008000));
        words("0.6.4", std::vector<unsigned>(512, 0x0003FF));
        bytes("0.6.5", std::vector<unsigned char>(513, 0xFF));
        bytes("0.6.6", std::vector<unsigned char>(513, 0xFF));
        dev.handler = [this](unsigned long number, unsigned char *b, std::size_t size) {
            const std::string oid = reinterpret_cast<const char *>(b + 1);
            if (number == VDSL_SET_DATA_LOGIC && oid == "0.6.1") {
                if (++selections == fail_selection)
                    return 100;
                unsigned s = static_cast<unsigned>(
                    std::stoul(reinterpret_cast<const char *>(b + 2 + oid.size()), nullptr, 16));
                bool down = s & 0x800000;
                words("0.6.7", segment(s & 0xFF, down));
            }
            return fakedev::builtin_answer(number, b, size);
        };
    }

    void value(const std::string &oid, unsigned v)
    {
        char text[16];
        std::snprintf(text, sizeof text, "%06x", v);
        dev.values[oid] = text;
    }
    // Upstream pairs from 2.1.329 on, downstream pairs from 2.1.345 on.
    void bands(std::initializer_list<std::pair<unsigned, unsigned>> up,
               std::initializer_list<std::pair<unsigned, unsigned>> down)
    {
        int item = 329;
        for (auto p : up) {
            value("2.1." + std::to_string(item++), p.first);
            value("2.1." + std::to_string(item++), p.second);
        }
        item = 345;
        for (auto p : down) {
            value("2.1." + std::to_string(item++), p.first);
            value("2.1." + std::to_string(item++), p.second);
        }
    }
    void words(const std::string &oid, const std::vector<unsigned> &w)
    {
        for (size_t i = 0; i < w.size(); i++)
            dev.words[dev.addresses[oid] + i] = w[i];
    }
    void word(const std::string &oid, size_t i, unsigned w) { dev.words[dev.addresses[oid] + i] = w; }
    // Byte entries: three bytes a word, most significant first.
    void bytes(const std::string &oid, const std::vector<unsigned char> &b)
    {
        std::vector<unsigned> w((b.size() + 2) / 3, 0);
        for (size_t i = 0; i < b.size(); i++)
            w[i / 3] |= static_cast<unsigned>(b[i]) << (8 * (2 - i % 3));
        words(oid, w);
    }
    void byte(const std::string &oid, size_t i, unsigned char v)
    {
        unsigned &w = dev.words[dev.addresses[oid] + i / 3];
        const unsigned shift = 8 * (2 - static_cast<unsigned>(i % 3));
        w = (w & ~(0xFFu << shift)) | static_cast<unsigned>(v) << shift;
    }
    // The allocation words of segment s (1-8) in one direction.
    std::vector<unsigned> segment(unsigned s, bool down)
    {
        auto it = allocation.find({s, down});
        return it != allocation.end() ? it->second : std::vector<unsigned>(512, 0);
    }

    std::string read(const std::string &path) const
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool exists(const std::string &path) const { return std::ifstream(path).good(); }

    fakedev::Device &dev = fakedev::device();
    SleepRecorder sleeps;
    std::map<std::pair<unsigned, bool>, std::vector<unsigned>> allocation;
    int selections = 0, fail_selection = 0;
};

}  // namespace shelltest
