// The firmware package reader: layout, system profiles, and malformed files.
#include <fstream>
#include <string>

#include <gmock/gmock.h>

#include "cli_command.h"
#include "cli_print.h"
#include "fake_device.h"
#include "firmware_package.h"
#include "package_builder.h"
#include "shell_fixture.h"

namespace {

using pkgtest::Bytes;
using shelltest::take;

std::string us_mask()
{
    std::string t = "100010200020";
    t.resize(96, '0');
    return t;
}

class Package : public shelltest::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fakedev::reset();
        path_ = dir_ + "/firmware_package.b";
        firmware_package_path = path_.c_str();
        take();
    }
    void TearDown() override
    {
        firmware_package_path = FIRMWARE_PACKAGE_PATH;
        ShellTest::TearDown();
    }
    void write(const Bytes &b)
    {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    static pkgtest::Contents contents()
    {
        pkgtest::Contents s;
        s.default_profile = 2;
        s.images = {Bytes(12, 0x11), Bytes(30, 0x22)};
        s.bindrv = Bytes(1300, 0x33);
        s.version = {0x01, 0x02, 0x03, 0x0a, 0x0b, 0x0c, 0xf0, 0xf1, 0xf2};
        s.profiles = {{"SYS_Annex_A", {{"0.9.1", "000001"}, {"0.9.2", "0000ff"}}},
                      {"SYS_Annex_B", {{"0.9.1", "000002"}}},
                      {"BND_b1", {{"0.10.4", "0001f4"}}},
                      {"PSD_flat", {{"0.10.7", "abc"}}}};
        return s;
    }
    fakedev::Device &dev = fakedev::device();
    std::string path_;
};

uint32_t word_at(const Bytes &b, size_t at)
{
    return static_cast<uint32_t>(b[at] << 16 | b[at + 1] << 8 | b[at + 2]);
}

// A small package worked out by hand: header of 720 bytes, one 6-byte image
// at 720, no binary driver, the directory at 726 with one entry (72 bytes),
// its data at 798: "\0\0\x05" "2.1.1" "\0\0\x03" "abc" "\0\0\x07" "0.0.0.0".
TEST_F(Package, BuilderLaysOutTheHandWorkedPackage)
{
    pkgtest::Contents s;
    s.default_profile = 1;
    s.images = {Bytes{1, 2, 3, 4, 5, 6}};
    s.profiles = {{"SYS_x", {{"2.1.1", "abc"}}}};
    Bytes b = pkgtest::build(s);
    ASSERT_EQ(b.size(), 798u + 3 + 5 + 3 + 3 + 3 + 7);
    EXPECT_EQ(word_at(b, 6), 1u);
    EXPECT_EQ(word_at(b, 9), 1u);
    EXPECT_EQ(word_at(b, 12), 1u);
    EXPECT_EQ(word_at(b, 15), 726u);
    EXPECT_EQ(word_at(b, 39), 720u);
    EXPECT_EQ(word_at(b, 42), 726u);
    EXPECT_EQ(word_at(b, 714), 0u);
    EXPECT_EQ(word_at(b, 717), 0u);
    EXPECT_EQ(word_at(b, 726), 798u);
    EXPECT_EQ(word_at(b, 729), 5u);
    EXPECT_EQ(std::string(b.begin() + 732, b.begin() + 737), "SYS_x");
    const Bytes pairs = {0,   0,   5, '2', '.', '1', '.', '1', 0,   0,   3,   'a',
                         'b', 'c', 0, 0,   7,   '0', '.', '0', '.', '0', '.', '0'};
    EXPECT_EQ(Bytes(b.begin() + 798, b.end()), pairs);

    write(b);
    char value[SYSPROF_VALUE_SIZE];
    EXPECT_EQ(sysprof_find("SYS_", "x", "2.1.1", value, sizeof value), 0);
    EXPECT_STREQ(value, "abc");
    uint32_t start, length;
    EXPECT_EQ(package_image_span(1, &start, &length), 0);
    EXPECT_EQ(start, 720u);
    EXPECT_EQ(length, 6u);
}

TEST_F(Package, ProfilesAreFoundListedAndApplied)
{
    write(pkgtest::build(contents()));
    char value[SYSPROF_VALUE_SIZE] = "x";
    EXPECT_EQ(sysprof_find("SYS_", "Annex_A", "0.9.2", value, sizeof value), 0);
    EXPECT_STREQ(value, "0000ff");
    EXPECT_EQ(sysprof_find("SYS_", "Annex_A", "0.9.9", value, sizeof value), 100);
    EXPECT_STREQ(value, "");
    EXPECT_THAT(take(), testing::EndsWith("LOID: 0.0.0.0\nNo such OID!!\n"));
    EXPECT_EQ(sysprof_find("SYS_", "none", "0.9.2", value, sizeof value), 100);
    EXPECT_THAT(take(), testing::EndsWith("No such Profile!!\n"));
    char small[6];
    EXPECT_EQ(sysprof_find("SYS_", "Annex_A", "0.9.2", small, sizeof small), 100);
    EXPECT_STREQ(small, "");
    EXPECT_THAT(take(), testing::EndsWith("Value of 0.9.2 does not fit its buffer (6 bytes).\n"));

    char name[SYSPROF_NAME_SIZE];
    struct Case {
        int n;
        const char *prefix, *name;
    } cases[] = {{1, "SYS_", "Annex_A"}, {2, "SYS_", "Annex_B"}, {3, "SYS_", ""}, {0, "SYS_", ""},
                 {1, "BND_", "b1"},      {1, "PSD_", "flat"},    {2, "PSD_", ""}, {9, "SYS_", ""}};
    for (const Case &c : cases) {
        EXPECT_EQ(sysprof_list(0, c.n, c.prefix, name), 0);
        EXPECT_STREQ(name, c.name) << c.prefix << c.n;
    }
    EXPECT_EQ(sysprof_exists("PSD_", "flat"), 0);
    EXPECT_EQ(sysprof_exists("PSD_", "other"), -111);  // the last kind of the directory
    EXPECT_EQ(sysprof_exists("SYS_", "Annex_B"), 0);
    take();
    EXPECT_EQ(sysprof_list(1, 0, "SYS_", name), 0);
    EXPECT_EQ(take(), "Supported System profile:\nAnnex_A\nAnnex_B\n");

    EXPECT_EQ(sysprof_apply(0, "SYS_", "Annex_A"), 0);
    EXPECT_EQ(dev.values["0.9.1"], "000001");
    EXPECT_EQ(dev.values["0.9.2"], "0000ff");
}

TEST_F(Package, PackageProfileByNumberThenTheStoredPsdMasks)
{
    write(pkgtest::build(contents()));
    store("USR_PSD_MASK_US_P1", us_mask());
    store("USR_PSD_MASK_DS_P1", "12");
    EXPECT_EQ(apply_package_profile(0, 255), 0);  // the header names profile 2
    EXPECT_EQ(dev.values["0.9.1"], "000002");
    EXPECT_EQ(dev.values["0.10.8"], us_mask());
    EXPECT_EQ(dev.values.count("0.10.7"), 0u);
    EXPECT_NE(take().find("The stored MIB PSD mask is illegal."), std::string::npos);

    EXPECT_EQ(apply_package_profile(0, 0), 100);
    EXPECT_EQ(take(), "No such Profile ID: 0\n");
    EXPECT_EQ(apply_package_profile(0, 5), 100);
    EXPECT_EQ(take(), "No such Profile ID: 5\n");

    // A failed write is reported and the walk goes on; the last result wins.
    dev.failures["0.9.1"] = 104;
    EXPECT_EQ(apply_package_profile(0, 1), 0);
    EXPECT_EQ(dev.values["0.9.2"], "0000ff");
    EXPECT_NE(take().find("Error setting MIB value."), std::string::npos);
}

TEST_F(Package, MissingFileAnswers100Everywhere)
{
    char value[SYSPROF_VALUE_SIZE], name[SYSPROF_NAME_SIZE];
    const std::string missing = "firmware package file \"" + path_ + "\" was not found.\n";
    EXPECT_EQ(sysprof_find("SYS_", "a", "1.1.1", value, sizeof value), 100);
    EXPECT_EQ(take(), missing);
    EXPECT_EQ(sysprof_apply(0, "SYS_", "a"), 100);
    EXPECT_EQ(apply_package_profile(0, 1), 100);
    EXPECT_EQ(sysprof_list(0, 1, "SYS_", name), 100);
    EXPECT_EQ(sysprof_exists("SYS_", "a"), -111);
    unsigned char v[PKG_VERSION_SIZE] = {1};
    package_version(v);
    EXPECT_EQ(v[0], 0);
}

// Every cut of a good package, and lengths and offsets that point away:
// each is refused with a message or read within the file, never past it.
TEST_F(Package, MalformedPackagesAreRefusedNotReadPast)
{
    const Bytes good = pkgtest::build(contents());
    char value[SYSPROF_VALUE_SIZE], name[SYSPROF_NAME_SIZE];
    for (size_t cut = 0; cut < good.size(); cut += 7) {
        write(Bytes(good.begin(), good.begin() + static_cast<long>(cut)));
        sysprof_find("SYS_", "Annex_B", "0.9.1", value, sizeof value);
        apply_package_profile(0, 255);
        sysprof_list(1, 0, "SYS_", name);
        uint32_t s, l;
        package_bindrv_span(&s, &l);
        package_image_span(2, &s, &l);
    }
    take();

    // Words that point past the file or claim impossible lengths.
    const size_t dir = word_at(good, 15);
    const size_t first_data = word_at(good, dir);
    struct Case {
        size_t at;
        int (*call)();
    } cases[] = {
        {15,
         [] {
             char v[8];
             return sysprof_find("SYS_", "Annex_A", "0.9.1", v, sizeof v);
         }},
        {12,
         [] {
             char v[8];
             return sysprof_find("SYS_", "zzz", "0.9.1", v, sizeof v);
         }},
        {42,
         [] {
             uint32_t s, l;
             return package_image_span(1, &s, &l);
         }},
        {717,
         [] {
             uint32_t s, l;
             return package_bindrv_span(&s, &l);
         }},
        {dir, [] { return sysprof_apply(0, "SYS_", "Annex_A"); }},
        {first_data, [] { return sysprof_apply(0, "SYS_", "Annex_A"); }},
        {first_data + 3 + 5, [] { return apply_package_profile(0, 1); }},
    };
    for (const Case &c : cases) {
        Bytes b = good;
        pkgtest::put24(b, c.at, 0xFFFFFF);
        write(b);
        EXPECT_EQ(c.call(), 100) << c.at;
        EXPECT_NE(take().find("is malformed"), std::string::npos) << c.at;
    }
}

}  // namespace
