// walvfs_test.cpp - the storage layer's gathered log writes: a note whose
// update returned is in the file even when the process is killed at once,
// every other connection sees each commit as soon as it returned, and
// transactions larger than what is gathered at a time read back whole.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "storetest.h"

class GatheringVfsTest : public StoreTest {
protected:
    std::string ItemText(DBHANDLE db, NOTEID id, const char* item) {
        NOTEHANDLE note = NULLHANDLE;
        if (NSFNoteOpen(db, id, 0, &note) != NOERROR) return "<cannot open>";
        char text[256] = "";
        NSFItemGetText(note, item, text, sizeof text);
        NSFNoteClose(note);
        return text;
    }
};

// A child writes notes and reports each one after its update returned; it
// is killed in the middle. Every reported note must be there, intact.
TEST_F(GatheringVfsTest, UpdateThatReturnedSurvivesKill) {
    CloseDb(CreateDb());
    int reports[2];
    ASSERT_EQ(0, pipe(reports));
    pid_t child = fork();
    if (child == 0) {
        close(reports[0]);
        DBHANDLE db = NULLHANDLE;
        if (NSFDbOpen("test.nsf", &db) != NOERROR) _exit(1);
        for (int n = 0;; ++n) {
            NOTEHANDLE note = NULLHANDLE;
            std::string counter = std::to_string(n);
            if (NSFNoteCreate(db, &note) != NOERROR ||
                NSFItemSetText(note, "Counter", counter.c_str(), MAXWORD) != NOERROR ||
                NSFItemSetText(note, "Body", std::string(3000, 'b').c_str(), MAXWORD) != NOERROR ||
                NSFNoteUpdate(note, 0) != NOERROR)
                _exit(1);
            NOTEID id = 0;
            NSFNoteGetInfo(note, _NOTE_ID, &id);
            NSFNoteClose(note);
            NOTEID report[2] = {id, (NOTEID)n};
            if (write(reports[1], report, sizeof report) != (ssize_t)sizeof report) _exit(1);
        }
    }
    close(reports[1]);
    std::vector<std::pair<NOTEID, NOTEID>> reported;
    NOTEID report[2];
    while (read(reports[0], report, sizeof report) == (ssize_t)sizeof report) {
        reported.emplace_back(report[0], report[1]);
        if (reported.size() == 400) kill(child, SIGKILL);
    }
    close(reports[0]);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    DBHANDLE db = OpenDb();
    ASSERT_GE(reported.size(), 400u);
    for (const auto& [id, counter] : reported)
        ASSERT_EQ(std::to_string(counter), ItemText(db, id, "Counter")) << "note " << id;
}

// One connection writes, another reads each note right after its update.
TEST_F(GatheringVfsTest, AnotherConnectionSeesEachCommitAtOnce) {
    DBHANDLE writer = CreateDb();
    DBHANDLE reader = OpenDb();
    for (int n = 0; n < 200; ++n) {
        std::string value = "value " + std::to_string(n);
        NOTEID id = SaveDoc(writer, "Subject", value.c_str());
        ASSERT_EQ(value, ItemText(reader, id, "Subject"));
        UpdateDoc(writer, id, "Subject", (value + " changed").c_str());
        ASSERT_EQ(value + " changed", ItemText(reader, id, "Subject"));
    }
}

// A copy is one transaction of several megabytes: far more than is
// gathered at a time, and more than the page cache holds.
TEST_F(GatheringVfsTest, LargeTransactionReadsBackWhole) {
    DBHANDLE source = CreateDb("source.nsf");
    std::vector<NOTEID> ids;
    for (int n = 0; n < 400; ++n) {
        NOTEHANDLE note = NewNote(source);
        WORD viewClass = NOTE_CLASS_VIEW;
        NSFNoteSetInfo(note, _NOTE_CLASS, &viewClass);
        std::string body(12000, (char)('a' + n % 26));
        ASSERT_EQ(NOERROR, NSFItemSetText(note, "$Title", std::to_string(n).c_str(), MAXWORD));
        ASSERT_EQ(NOERROR, NSFItemSetText(note, "Body", body.c_str(), MAXWORD));
        ASSERT_EQ(NOERROR, NSFNoteUpdate(note, 0));
        NOTEID id = 0;
        NSFNoteGetInfo(note, _NOTE_ID, &id);
        ids.push_back(id);
        Close(note);
    }
    DBHANDLE copy = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFDbCreateAndCopy("source.nsf", "copy.nsf", NOTE_CLASS_VIEW, 0, 0, &copy));
    NSFDbClose(copy);

    DBHANDLE reader = OpenDb("copy.nsf");
    for (size_t n = 0; n < ids.size(); ++n) {
        NOTEHANDLE note = OpenNote(reader, ids[n]);
        char title[16] = "";
        NSFItemGetText(note, "$Title", title, sizeof title);
        EXPECT_EQ(std::to_string(n), title);
        BLOCKID item, value;
        WORD type = 0;
        DWORD length = 0;
        ASSERT_EQ(NOERROR, NSFItemInfo(note, "Body", 4, &item, &type, &value, &length));
        EXPECT_EQ(sizeof(WORD) + 12000u, length) << "note " << ids[n];
        Close(note);
    }
}

// The write of a commit's log pages fails, as on a full disk: the update
// answers an error, no connection ever sees the note, and the database
// takes the same update once the disk writes again.
TEST_F(GatheringVfsTest, FailedLogWriteFailsTheUpdateAndLosesNothingBefore) {
    DBHANDLE writer = CreateDb();
    DBHANDLE reader = OpenDb();
    NOTEID kept = SaveDoc(writer, "Subject", "kept");

    NOTEHANDLE note = NewNote(writer);
    ASSERT_EQ(NOERROR, NSFItemSetText(note, "Subject", "retried", MAXWORD));
    NRTFaultFailNth(NRT_FAULT_LOGWRITE, 1, 0);
    EXPECT_NE(NOERROR, NSFNoteUpdate(note, 0));
    DHANDLE table = NULLHANDLE;
    TIMEDATE wildcard{{0xFFFFFFFF, 0xFFFFFFFF}}, until{};
    ASSERT_EQ(NOERROR, NSFDbGetModifiedNoteTable(reader, NOTE_CLASS_DOCUMENT, wildcard, &until, &table));
    EXPECT_EQ(1u, IDEntries(table));
    IDDestroyTable(table);

    ASSERT_EQ(NOERROR, NSFNoteUpdate(note, 0));
    NOTEID retried = 0;
    NSFNoteGetInfo(note, _NOTE_ID, &retried);
    EXPECT_EQ("kept", ItemText(reader, kept, "Subject"));
    EXPECT_EQ("retried", ItemText(reader, retried, "Subject"));
    UpdateDoc(writer, kept, "Subject", "kept and changed");
    EXPECT_EQ("kept and changed", ItemText(OpenDb(), kept, "Subject"));
}
