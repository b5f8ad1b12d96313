// env_test.cpp - data directory, settings, error texts and the refusal of
// database names that leave the data directory.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "nrt_env.h"
#include "osenv.h"
#include "osmisc.h"
#include "testenv.h"

class EnvTest : public DataDirTest {};

TEST_F(EnvTest, EveryRuntimeStatusHasAText) {
    const STATUS codes[] = {ERR_NOEXIST, ERR_MEMORY, ERR_NOT_NSF, ERR_CONFLICT,
                            ERR_ITEM_NOT_FOUND, ERR_NOTE_DELETED, ERR_INVALID_NOTE,
                            ERR_NO_MODIFIED_NOTES, ERR_NOACCESS, ERR_NOT_FOUND,
                            ERR_TDI_CONV, ERR_TDO_CONV, ERR_MQ_TIMEOUT, ERR_DUPLICATE_MQ,
                            ERR_NO_SUCH_MQ, ERR_MQ_EMPTY, ERR_MQ_BFR_TOO_SMALL,
                            ERR_MQ_QUITTING, ERR_FORMULA_COMPILATION, ERR_BAD_PATH,
                            ERR_DB_BUSY, ERR_INVALID_HANDLE, ERR_IO, ERR_MQ_OTHER_USER};
    for (STATUS code : codes) {
        char text[256];
        EXPECT_GT(OSLoadString(NULLHANDLE, code, text, sizeof(text) - 1), 0) << code;
        EXPECT_GT(std::strlen(text), 0u) << code;
    }
}

TEST_F(EnvTest, LoadStringIgnoresFlagsAndCutsToTheBuffer) {
    char full[256], cut[6];
    WORD length = OSLoadString(NULLHANDLE, ERR_NOT_NSF | STS_DISPLAYED, full, sizeof(full) - 1);
    EXPECT_EQ(std::strlen(full), length);
    EXPECT_EQ(5, OSLoadString(NULLHANDLE, ERR_NOT_NSF, cut, sizeof(cut) - 1));
    EXPECT_EQ(std::string(full, 5), cut);
    EXPECT_EQ(0, OSLoadString(NULLHANDLE, 0x3FFE, full, sizeof(full) - 1));
    EXPECT_STREQ("", full);
}

TEST_F(EnvTest, SettingsComeFromNotesIniWithoutRegardToCase) {
    testenv::WriteFile(DataPath("notes.ini"), "[Notes]\nServerName=CN=Hub/O=Acme\nTIMEZONE = 5\n");
    ASSERT_EQ(NOERROR, NRTSetDataDirectory(dataDir_.c_str()));  // re-reads the settings
    char value[64];
    EXPECT_TRUE(OSGetEnvironmentString("servername", value, sizeof(value) - 1));
    EXPECT_STREQ("CN=Hub/O=Acme", value);
    EXPECT_EQ(5, OSGetEnvironmentLong("TimeZone"));
    EXPECT_FALSE(OSGetEnvironmentString("Missing", value, sizeof(value) - 1));
    char user[64];
    NRTGetUserName(user, sizeof(user));
    EXPECT_STREQ("CN=Hub/O=Acme", user);
    NRTSetUserName("CN=Writer/O=Acme");
    NRTGetUserName(user, sizeof(user));
    EXPECT_STREQ("CN=Writer/O=Acme", user);
    NRTSetUserName(nullptr);
}

TEST_F(EnvTest, DataDirectoryMustExist) {
    EXPECT_EQ(ERR_NOEXIST, NRTSetDataDirectory((dataDir_ + "/nope").c_str()));
    char dir[512];
    NRTGetDataDirectory(dir, sizeof(dir));
    EXPECT_EQ(std::filesystem::canonical(dataDir_).string(), dir);
}
