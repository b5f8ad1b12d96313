// version_test.cpp - the Windows version resource, read back with the
// platform's own version API (GetFileVersionInfo, VerQueryValue): from this
// test program, which carries the same resource as zelrep.exe, and from
// zelrep.exe itself when the build has it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "n_ver.h"

// The few Windows calls used here (kernel32, version), declared as
// documented; the platform's headers are not needed for them.
extern "C" {
__declspec(dllimport) unsigned long __stdcall GetModuleFileNameA(void* module, char* name,
                                                                 unsigned long size);
__declspec(dllimport) unsigned long __stdcall GetFileVersionInfoSizeA(const char* file,
                                                                      unsigned long* unused);
__declspec(dllimport) int __stdcall GetFileVersionInfoA(const char* file, unsigned long unused,
                                                        unsigned long size, void* data);
__declspec(dllimport) int __stdcall VerQueryValueA(const void* block, const char* path,
                                                   void** value, unsigned int* length);
}

namespace {

// The fixed part of a version resource (VS_FIXEDFILEINFO).
struct FixedFileInfo {
    unsigned long signature;  // 0xFEEF04BD
    unsigned long structVersion;
    unsigned long fileVersionHigh;
    unsigned long fileVersionLow;
    unsigned long productVersionHigh;
    unsigned long productVersionLow;
    unsigned long flagsMask;
    unsigned long flags;
    unsigned long os;
    unsigned long type;
    unsigned long subtype;
    unsigned long dateHigh;
    unsigned long dateLow;
};

const unsigned long kFixedInfoSignature = 0xFEEF04BD;
const unsigned long kTypeApplication = 1;

// The version resource of one file, as the platform reads it.
class VersionResource {
public:
    explicit VersionResource(const std::string& file) {
        unsigned long unused = 0;
        unsigned long size = GetFileVersionInfoSizeA(file.c_str(), &unused);
        if (size == 0) return;
        data_.resize(size);
        if (!GetFileVersionInfoA(file.c_str(), 0, size, data_.data())) data_.clear();
    }

    bool Found() const { return !data_.empty(); }

    const FixedFileInfo* Fixed() const {
        void* value = nullptr;
        unsigned int length = 0;
        if (!Found() || !VerQueryValueA(data_.data(), "\\", &value, &length) ||
            length < sizeof(FixedFileInfo))
            return nullptr;
        return static_cast<const FixedFileInfo*>(value);
    }

    // One text of the U.S. English, Unicode string table; "(none)" when the
    // resource has no such text.
    std::string Text(const std::string& name) const {
        void* value = nullptr;
        unsigned int length = 0;
        std::string path = "\\StringFileInfo\\040904B0\\" + name;
        if (!Found() || !VerQueryValueA(data_.data(), path.c_str(), &value, &length))
            return "(none)";
        return static_cast<const char*>(value);
    }

private:
    std::vector<unsigned char> data_;
};

void ExpectZelrepVersion(const std::string& file) {
    SCOPED_TRACE(file);
    VersionResource resource(file);
    ASSERT_TRUE(resource.Found());

    const FixedFileInfo* fixed = resource.Fixed();
    ASSERT_NE(nullptr, fixed);
    EXPECT_EQ(kFixedInfoSignature, fixed->signature);
    // 2.1.1.0: major and minor in the high word, build and revision below.
    EXPECT_EQ(0x00020001ul, fixed->fileVersionHigh);
    EXPECT_EQ(0x00010000ul, fixed->fileVersionLow);
    EXPECT_EQ(0x00020001ul, fixed->productVersionHigh);
    EXPECT_EQ(0x00010000ul, fixed->productVersionLow);
    EXPECT_EQ(kTypeApplication, fixed->type);

    EXPECT_EQ("v2.1.1", resource.Text("FileVersion"));
    EXPECT_EQ("v2.1.1", resource.Text("ProductVersion"));
    EXPECT_EQ("Lotus Notes Orvane Driver Replication Module", resource.Text("FileDescription"));
    EXPECT_EQ("zelrep", resource.Text("InternalName"));
    EXPECT_EQ("zelrep.exe", resource.Text("OriginalFilename"));
    EXPECT_EQ("Orvane Driver for Lotus Notes", resource.Text("ProductName"));
    EXPECT_EQ("The zelrep developers", resource.Text("CompanyName"));
    EXPECT_EQ(ZELREP_LEGAL_NOTICE, resource.Text("LegalCopyright"));
    EXPECT_EQ("(none)", resource.Text("PrivateBuild"));
}

}  // namespace

TEST(VersionResource, HoldsTheProgramsVersionAndNames) {
    char self[1024] = "";
    ASSERT_NE(0ul, GetModuleFileNameA(nullptr, self, sizeof(self)));
    ExpectZelrepVersion(self);
}

#ifdef ZELREP_PROGRAM
TEST(VersionResource, IsCarriedByZelrep) { ExpectZelrepVersion(ZELREP_PROGRAM); }
#endif

TEST(VersionResource, FileWithoutOneHasNone) {
    EXPECT_FALSE(VersionResource(ZELREP_SOURCE_DIR "/win32/zelrep.rc").Found());
}
