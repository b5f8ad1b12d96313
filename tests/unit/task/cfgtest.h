// cfgtest.h - the fixture shared by the task's own tests (config, cfgdb,
// console, commands, cfgcmds): a fresh data directory, configuration
// databases and instance documents written through the runtime API, items
// read back, and every logged text captured.
//
// Owned by the task's tests. Each test gets its own data directory; the log
// capture is quiet, so nothing reaches the console or DATA/console.log.
#ifndef ZELREP_TESTS_CFGTEST_H
#define ZELREP_TESTS_CFGTEST_H

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cfgdb.h"
#include "config.h"
#include "mq.h"
#include "nrt_fault.h"
#include "nrt_server.h"
#include "nsfdb.h"
#include "nsfnote.h"
#include "osmem.h"
#include "ostime.h"
#include "testenv.h"
#include "cfgcmds.h"
#include "commands.h"
#include "console.h"
#include "zelrep.h"

namespace cfgtest {

// One item of a document written by a test.
struct Item {
    enum Kind { TEXT, NUMBER, TIME } kind;
    std::string name;
    std::string text;
    double number;
    TIMEDATE time;
};

inline Item Text(const std::string& name, const std::string& value) {
    return Item{Item::TEXT, name, value, 0, TIMEDATE{}};
}
inline Item Number(const std::string& name, double value) {
    return Item{Item::NUMBER, name, "", value, TIMEDATE{}};
}
inline Item Time(const std::string& name, TIMEDATE value) {
    return Item{Item::TIME, name, "", 0, value};
}

// A time some days before now, whole seconds, as a stored last-event time.
inline TIMEDATE PastTime(int days) {
    TIMEDATE time;
    OSCurrentTIMEDATE(&time);
    TimeDateAdjustSeconds(&time, -days * 86400);
    time.Innards[0] -= time.Innards[0] % 100;
    return time;
}

inline const char* kFilter =
    "<publisher-filter><class name=\"Person\"><attr name=\"FullName\"/></class>"
    "</publisher-filter>";

// The items of a complete instance document.
inline std::vector<Item> CompleteInstance(const std::string& name) {
    return {Text("InstanceID_text", name),
            Text("InputDB_text", "names.nsf"),
            Text("OutputDB_text", "updates.nsf"),
            Text("LoopDetectID_text", "CN=Driver/O=Org"),
            Number("LoopDetect_number", 1),
            Number("DirectoryFlag_number", 1),
            Number("AutoRefresh_number", 1),
            Text("ScheduleUnits_text", "minutes"),
            Number("ScheduleValue_number", 5),
            Number("DNFormat_number", 2),
            Number("CheckAttrs_number", 1),
            Number("WriteTimeStamps_number", 1),
            Number("ConsoleTraceLevel_number", 2),
            Time("LastEventTimeStamp_TS", PastTime(3)),
            Text("PublisherFilter_text", kFilter)};
}

// Leaves out the named items.
inline std::vector<Item> Without(std::vector<Item> items, const std::vector<std::string>& names) {
    std::vector<Item> kept;
    for (const Item& item : items) {
        bool drop = false;
        for (const std::string& name : names) drop = drop || item.name == name;
        if (!drop) kept.push_back(item);
    }
    return kept;
}

// Replaces (or adds) one item.
inline std::vector<Item> With(std::vector<Item> items, const Item& changed) {
    for (Item& item : items) {
        if (item.name == changed.name) {
            item = changed;
            return items;
        }
    }
    items.push_back(changed);
    return items;
}

}  // namespace cfgtest

class ConfigTest : public DataDirTest {
protected:
    void SetUp() override {
        DataDirTest::SetUp();
        log_.reset(new NRTLogCapture());
    }
    void TearDown() override {
        NRTFaultReset();
        log_.reset();
        DataDirTest::TearDown();
    }

    std::vector<std::string> Lines() const { return log_->Texts(); }
    std::string Joined() const { return log_->Joined(); }
    void ClearLog() { log_->Clear(); }

    void CreateDb(const char* path = DEFAULT_CFGDB_NAME) {
        ASSERT_EQ(NOERROR, NSFDbCreate(path, DBCLASS_NOTEFILE, FALSE));
    }

    // Writes a new document; returns its note ID.
    NOTEID AddDocument(const std::vector<cfgtest::Item>& items,
                       const char* path = DEFAULT_CFGDB_NAME) {
        DBHANDLE hDB = NULLHANDLE;
        EXPECT_EQ(NOERROR, NSFDbOpen(path, &hDB));
        NOTEHANDLE hNote = NULLHANDLE;
        EXPECT_EQ(NOERROR, NSFNoteCreate(hDB, &hNote));
        for (const cfgtest::Item& item : items) SetItem(hNote, item);
        EXPECT_EQ(NOERROR, NSFNoteUpdate(hNote, 0));
        NOTEID id = 0;
        NSFNoteGetInfo(hNote, _NOTE_ID, &id);
        NSFNoteClose(hNote);
        NSFDbClose(hDB);
        return id;
    }

    // Creates the configuration database (when missing) and a complete
    // instance document, changed by the given items.
    NOTEID AddInstance(const std::string& name, const std::vector<cfgtest::Item>& changes = {},
                       const char* path = DEFAULT_CFGDB_NAME) {
        DBHANDLE hDB = NULLHANDLE;
        if (NSFDbOpen(path, &hDB) == NOERROR)
            NSFDbClose(hDB);
        else
            CreateDb(path);
        std::vector<cfgtest::Item> items = cfgtest::CompleteInstance(name);
        for (const cfgtest::Item& item : changes) items = cfgtest::With(items, item);
        return AddDocument(items, path);
    }

    void ChangeDocument(NOTEID id, const std::vector<cfgtest::Item>& items,
                        const std::vector<std::string>& removed = {},
                        const char* path = DEFAULT_CFGDB_NAME) {
        DBHANDLE hDB = NULLHANDLE;
        ASSERT_EQ(NOERROR, NSFDbOpen(path, &hDB));
        NOTEHANDLE hNote = NULLHANDLE;
        ASSERT_EQ(NOERROR, NSFNoteOpen(hDB, id, 0, &hNote));
        for (const cfgtest::Item& item : items) SetItem(hNote, item);
        for (const std::string& name : removed)
            NSFItemDelete(hNote, name.c_str(), (WORD)name.size());
        EXPECT_EQ(NOERROR, NSFNoteUpdate(hNote, 0));
        NSFNoteClose(hNote);
        NSFDbClose(hDB);
    }

    std::string ReadText(NOTEID id, const char* item, const char* path = DEFAULT_CFGDB_NAME) {
        char text[1024] = {0};
        WithNote(id, path, [&](NOTEHANDLE h) { NSFItemGetText(h, item, text, sizeof(text)); });
        return text;
    }
    double ReadNumber(NOTEID id, const char* item, const char* path = DEFAULT_CFGDB_NAME) {
        NUMBER number = -12345;
        WithNote(id, path, [&](NOTEHANDLE h) { NSFItemGetNumber(h, item, &number); });
        return number;
    }
    TIMEDATE ReadTime(NOTEID id, const char* item, const char* path = DEFAULT_CFGDB_NAME) {
        TIMEDATE time{};
        WithNote(id, path, [&](NOTEHANDLE h) { NSFItemGetTime(h, item, &time); });
        return time;
    }
    // The text of the configuration's publisher filter block ("" for none).
    static std::string FilterText(CConfig& config) {
        unsigned long handle = 0;
        config.GetPubFilter(&handle);
        if (handle == 0) return "";
        const char* text = (const char*)OSMemoryLock((MEMHANDLE)handle);
        std::string copy = text ? text : "";
        OSMemoryUnlock((MEMHANDLE)handle);
        return copy;
    }

    // A new filter block holding text, for SetPubFilter.
    static unsigned long NewFilterBlock(const std::string& text) {
        MEMHANDLE handle = NULLMEMHANDLE;
        EXPECT_EQ(NOERROR, OSMemoryAllocate(0, (DWORD)text.size() + 1, &handle));
        char* block = (char*)OSMemoryLock(handle);
        memcpy(block, text.c_str(), text.size() + 1);
        OSMemoryUnlock(handle);
        return handle;
    }

    static std::string Get(CConfig& config, int (CConfig::*getter)(char*)) {
        char text[CFG_TEXT_SIZE] = {0};
        (config.*getter)(text);
        return text;
    }

private:
    static void SetItem(NOTEHANDLE hNote, const cfgtest::Item& item) {
        const char* name = item.name.c_str();
        NSFItemDelete(hNote, name, (WORD)item.name.size());
        switch (item.kind) {
        case cfgtest::Item::TEXT:
            EXPECT_EQ(NOERROR, NSFItemSetText(hNote, name, item.text.c_str(),
                                              (WORD)item.text.size()));
            break;
        case cfgtest::Item::NUMBER: {
            NUMBER number = item.number;
            EXPECT_EQ(NOERROR, NSFItemSetNumber(hNote, name, &number));
            break;
        }
        case cfgtest::Item::TIME: {
            TIMEDATE time = item.time;
            EXPECT_EQ(NOERROR, NSFItemSetTime(hNote, name, &time));
            break;
        }
        }
    }

    template <typename Action>
    void WithNote(NOTEID id, const char* path, Action action) {
        DBHANDLE hDB = NULLHANDLE;
        ASSERT_EQ(NOERROR, NSFDbOpen(path, &hDB));
        NOTEHANDLE hNote = NULLHANDLE;
        ASSERT_EQ(NOERROR, NSFNoteOpen(hDB, id, 0, &hNote));
        action(hNote);
        NSFNoteClose(hNote);
        NSFDbClose(hDB);
    }

    std::unique_ptr<NRTLogCapture> log_;
};

// A task's configuration for instance ZEL1, loaded from its document and
// with its console queue, to which console messages are sent.
class TaskConsoleTest : public ConfigTest {
protected:
    typedef std::vector<std::string> Texts;

    void SetUp() override {
        ConfigTest::SetUp();
        documentID_ = AddInstance("ZEL1");
        std::string instance = "ZEL1", file = DEFAULT_CFGDB_NAME;
        config_.reset(new CConfig(&instance[0], &file[0]));
        ASSERT_EQ(NOERROR, config_->Refresh());
        ASSERT_EQ(NOERROR, config_->SetQueueName(&instance[0]));
        ClearLog();
    }
    void TearDown() override {
        config_.reset();
        ConfigTest::TearDown();
    }

    // Sends one console message and answers the lines it logged.
    Texts Send(const std::string& text, STATUS* status = nullptr) {
        ClearLog();
        std::string message = text + '\0';
        STATUS result = ProcessMessage(&message[0], (WORD)text.size(), config_.get());
        if (status != nullptr) *status = result;
        return Lines();
    }

    static bool StartsWith(const std::string& text, const std::string& prefix) {
        return text.compare(0, prefix.size(), prefix) == 0;
    }

    NOTEID documentID_ = 0;
    std::unique_ptr<CConfig> config_;
};

#endif
