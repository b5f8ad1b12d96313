// badinput_test.cpp - the running task given bad input: broken, huge and
// over-long publisher filters, odd instance names, console messages of any
// length and with control characters, database paths outside the data
// directory or at files that are not databases, its configuration edited
// while a pass runs, and a directory held locked by another writer. Each is
// answered by the task's own message or a Notes status, the task goes on
// serving console commands, and no change is lost.
#include <chrono>
#include <filesystem>
#include <thread>

#include "mq.h"
#include "taskfixture.h"

namespace {

using taskfixture::Literal;
using taskfixture::OutputDocument;
using taskfixture::Person;

const char kNoObjects[] = "Orvane - TEST: Publication Filter contains no Objects.  Suspending ZELREP";

// A filter of the given classes, each allowing "Comment".
std::string FilterOf(const std::vector<std::string>& classes) {
    std::string text = "<publisher-filter>\n";
    for (const std::string& name : classes)
        text += "<allow-class class-name=\"" + name + "\"><allow-attr attr-name=\"Comment\"/></allow-class>\n";
    return text + "</publisher-filter>\n";
}

class BadInputTest : public taskfixture::TaskTest {
protected:
    // The directory with one person, the instance, and the task after its
    // first pass.
    proctest::Console& StartTask(const std::vector<std::string>& instanceOptions = {}) {
        CreateDirectory();
        AddPerson("First", "first");
        CreateInstance();
        if (!instanceOptions.empty()) Configure(instanceOptions);
        proctest::Console& console = StartServer();
        Load(console);
        EXPECT_TRUE(console.WaitForLine(Literal(taskfixture::kPassDone))) << ConsoleLog();
        return console;
    }

    // Replaces the instance's filter text (through nsfdb, so at most one
    // item's worth of text).
    void SetFilter(const std::string& text) {
        testenv::WriteFile(DataPath("filter.xml"), text);
        Configure({"--filter", DataPath("filter.xml")});
    }

    // Writes the filter item straight into the configuration document: a
    // text longer than nsfdb writes in one item.
    void SetFilterItem(const std::string& text) {
        DBHANDLE hDB = NULLHANDLE;
        NOTEHANDLE h = NULLHANDLE;
        ASSERT_NO_FATAL_FAILURE(OpenInstanceDocument(&hDB, &h));
        NSFItemDelete(h, "PublisherFilter_text", MAXWORD);
        EXPECT_EQ(NOERROR, NSFItemAppend(h, ITEM_SUMMARY, "PublisherFilter_text", MAXWORD, TYPE_TEXT,
                                         text.data(), (DWORD)text.size()));
        EXPECT_EQ(NOERROR, NSFNoteUpdate(h, 0));
        NSFNoteClose(h);
        NSFDbClose(hDB);
    }

    // Has the task load its configuration document again at once.
    static void Reload(proctest::Console& console) {
        console.Command("tell TEST refreshconfig");
        EXPECT_TRUE(console.WaitForLine(Literal("Orvane - TEST:  Refreshing Configuration")));
    }

    // Resumes the task (suspended by an unusable filter) and runs a pass.
    static void ResumeAndReplicate(proctest::Console& console) {
        console.Command("tell TEST resume");
        console.Command("tell TEST replicate");
    }

    // Sends the command every second until a line of its answer matches
    // regex (an auto-refresh takes effect at a pass a second or two later).
    static bool WaitForAnswer(proctest::Console& console, const std::string& command, const std::string& regex) {
        for (int attempt = 0; attempt < 20; ++attempt) {
            console.Command(command);
            if (console.WaitForLine(regex, 1000)) return true;
        }
        return false;
    }


    // Puts the bytes on the task's queue as they are, NULs included.
    static void Tell(const std::string& message) {
        MQHANDLE queue = 0;
        ASSERT_EQ(NOERROR, MQOpen("MQ$TEST", 0, &queue));
        EXPECT_EQ(NOERROR, MQPut(queue, MQ_LOWPRIORITY, message.data(), (WORD)message.size(), 0));
        MQClose(queue, 0);
    }

    // Waits until the output carries a document of this change.
    bool WaitForPublished(const std::string& unid, const std::string& event, const std::string& comment) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(proctest::Scaled(20000));
        while (std::chrono::steady_clock::now() < deadline) {
            if (Published(ReadOutput(), unid, event, comment) > 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        ADD_FAILURE() << event << " of " << unid << " not published\n" << ConsoleLog();
        return false;
    }
};

TEST_F(BadInputTest, FilterWithoutAUsableClassSuspendsUntilMended) {
    proctest::Console& console = StartTask();
    const std::string longName(1000, 'L');
    std::vector<Person> waiting;  // added while the filter was unusable
    for (const std::string& text : {std::string("this is not XML at all <<<\"\"\" >>>"),
                                    std::string("<allow-class class-name=\"Person\"><allow-attr attr-name=\"Comment\"/>"),
                                    FilterOf({longName})}) {
        SetFilterItem(text);  // nsfdb instance refuses such a filter
        Reload(console);
        waiting.push_back(AddPerson("Waiting " + std::to_string(waiting.size()), "waiting"));
        ResumeAndReplicate(console);
        EXPECT_TRUE(console.WaitForLine(Literal(kNoObjects), 20000))
            << text.substr(0, 60) << "\n" << ConsoleLog();
        EXPECT_TRUE(Serves(console));
    }
    SetFilter(taskfixture::kFilter);
    Reload(console);
    ResumeAndReplicate(console);
    for (const Person& person : waiting) EXPECT_TRUE(WaitForPublished(person.unid, "ADD", "waiting"));
    EXPECT_EQ(0, Damaged(ReadOutput()));
    EXPECT_EQ(0, console.Quit());
}

TEST_F(BadInputTest, HugeFilterAndThousandCharacterAttributeNamesStillPublish) {
    proctest::Console& console = StartTask();
    std::vector<std::string> classes;
    for (int i = 0; i < 10000; ++i) classes.push_back("Class" + std::to_string(i));
    std::string huge = FilterOf(classes);
    huge.insert(huge.rfind("</publisher-filter>"),
                "<allow-class class-name=\"Person\"><allow-attr attr-name=\"Comment\"/><allow-attr attr-name=\"" +
                    std::string(1000, 'A') + "\"/></allow-class>\n");
    SetFilterItem(huge);
    Reload(console);
    Person person = AddPerson("Huge", "under a huge filter");
    console.Command("tell TEST replicate");
    EXPECT_TRUE(WaitForPublished(person.unid, "ADD", "under a huge filter"));
    EXPECT_TRUE(proctest::Matches(ConsoleLog(), Literal("Orvane - TEST: Publication Filter attribute \"" +
                                                        std::string(64, 'A') + "...\" of class Person has 1000 "
                                                        "characters, more than 127: left out")))
        << ConsoleLog();

    console.Command("tell TEST showfilter");
    EXPECT_TRUE(console.WaitForLine("^.{19}  Publisher Filter: <publisher-filter>")) << ConsoleLog();
    EXPECT_TRUE(Serves(console));
    EXPECT_EQ(0, console.Quit());
}

TEST_F(BadInputTest, InstanceNamesWithQuotesBackslashesOrThreeHundredCharacters) {
    proctest::Console& console = StartTask();
    Nsfdb({"instance", "zelrpcfg.nsf", "Q\\P", "--input", "names.nsf", "--output", "qp.nsf",
           "--filter", DataPath("filter.xml")});

    console.Command("load zelrep A\"B");
    EXPECT_TRUE(console.WaitForLine(Literal("Orvane - A\"B:  configuration instance not found: "
                                            "file=zelrpcfg.nsf, instance=A\"B: ")))
        << ConsoleLog();
    EXPECT_TRUE(console.WaitForLine(Literal("Orvane - ZELREP: load failure: file=zelrpcfg.nsf, instance=A\"B")));
    console.Command("load zelrep " + std::string(300, 'N'));
    EXPECT_TRUE(console.WaitForLine("ZELREP ERROR:  A command-line argument is longer than 255 characters\\."));
    EXPECT_TRUE(console.WaitForLine("USAGE: load zelrep instanceName"));

    console.Command("load zelrep q\\p");
    EXPECT_TRUE(console.WaitForLine(Literal("Orvane - Q\\P:  Initialization Complete."))) << ConsoleLog();
    console.Command("tell q\\p showconfig");
    EXPECT_TRUE(console.WaitForLine(Literal("Orvane - Q\\P: == ZELREP v2.1.1 ==")));
    console.Command("tell q\\p quit");
    EXPECT_TRUE(console.WaitForLine(Literal("Orvane - Q\\P:  Addin Process Exited.")));

    const std::string longName(244, 'S');  // "setinstance " and the name fill 256 bytes
    for (const std::string& name : {std::string("A\"B"), std::string("X\\Y"), longName}) {
        console.Command("tell TEST setinstance " + name);
        EXPECT_TRUE(console.WaitForLine(Literal("Orvane - TEST: SETINSTANCE " + name + " failed. Instance ")))
            << name << "\n" << ConsoleLog();
        EXPECT_TRUE(Serves(console)) << name;
    }
    EXPECT_EQ(0, console.Quit());
}

TEST_F(BadInputTest, ConsoleMessagesOfAnyLengthOrWithControlCharacters) {
    proctest::Console& console = StartTask();
    Tell("");
    EXPECT_TRUE(console.WaitForLine("  MSG_Q: Unknown command: $"));
    Tell(std::string(255, 'z'));
    EXPECT_TRUE(console.WaitForLine("  MSG_Q: Unknown command: Z{231}$"));
    std::string dn = "CN=" + std::string(240, 'x');
    Tell("loopdetectid " + dn);  // 256 bytes: read whole
    EXPECT_TRUE(console.WaitForLine("Orvane - TEST: LOOPDETECT is looking for CN=X{240}$"));
    for (size_t length : {257, 5000}) {
        Tell(std::string(length, 'y'));
        EXPECT_TRUE(console.WaitForLine(Literal("Orvane - TEST:  Buffer too small for message data"))) << length;
    }
    Tell(std::string("\x01show\x07") + "config\x1b[2J");
    EXPECT_TRUE(console.WaitForLine("  MSG_Q: Unknown command: .SHOW.CONFIG.\\[2J$"));
    Tell(std::string("trace \x7f\x08", 8));
    EXPECT_TRUE(console.WaitForLine("zelrep console trace expects: SILENT, NORMAL, VERBOSE, or DEBUG, as a parameter"));
    Tell(std::string("showfilter\0junk", 15));
    EXPECT_TRUE(console.WaitForLine("  Publisher Filter: <publisher-filter>"));
    Tell("\tshowconfig\r\n");
    EXPECT_TRUE(console.WaitForLine(Literal("Orvane - TEST: == ZELREP v2.1.1 ==")));
    console.Command("tell TEST " + std::string(5000, 'w'));
    EXPECT_TRUE(console.WaitForLine("Line too long \\(5010 characters, at most 4096\\); ignored\\."));

    std::string log = ConsoleLog();
    EXPECT_EQ(std::string::npos, log.find_first_of(std::string("\x01\x07\x08\x1b\x7f", 5)));
    EXPECT_TRUE(Serves(console));
    EXPECT_EQ(0, console.Quit());
}

TEST_F(BadInputTest, DatabasePathsOutsideTheDataDirectoryOrNotADatabase) {
    proctest::Console& console = StartTask();
    testenv::WriteFile(DataPath("notadb.nsf"), "just text\n");
    // A link inside the data directory to a folder outside it that holds a
    // copy of the directory and of the configuration.
    std::string outside = testenv::MakeTempDir("outside");
    std::filesystem::copy_file(DataPath("names.nsf"), outside + "/names.nsf");
    std::filesystem::copy_file(DataPath("zelrpcfg.nsf"), outside + "/zelrpcfg.nsf");
    std::filesystem::create_directory_symlink(outside, DataPath("lo"));
    const std::string refused = ": Path must be relative to the data directory and must not lead outside it";
    Person during = AddPerson("During", "while the paths were bad");
    for (const char* path : {"../names.nsf", "/etc/passwd", "notadb.nsf", "lo/names.nsf"}) {
        console.Command(std::string("tell TEST inputdb ") + path);
        console.Command("tell TEST replicate");
        std::string shown = path;
        for (char& c : shown) c = (char)toupper((unsigned char)c);
        EXPECT_TRUE(console.WaitForLine(Literal("Orvane - TEST:  Fatal Error:  Unable to open input DB " + shown + ": ")))
            << path << "\n" << ConsoleLog();
        EXPECT_TRUE(Serves(console));
    }
    EXPECT_TRUE(proctest::Matches(ConsoleLog(), Literal("Unable to open input DB LO/NAMES.NSF" + refused)));
    console.Command("tell TEST inputdb names.nsf");
    const std::pair<const char*, std::string> outputs[] = {
        {"../out.nsf", refused}, {"lo/evil.nsf", refused}, {"notadb.nsf", ": File is not a database"}};
    for (const auto& [path, cause] : outputs) {
        console.Command(std::string("tell TEST outputdb ") + path);
        console.Command("tell TEST replicate");
        EXPECT_TRUE(console.WaitForLine("Orvane - TEST: Filtered directory updates will be written to "));
        EXPECT_TRUE(console.WaitForLine(Literal("Orvane - TEST:  Fatal Error:  Unable to create output DB" + cause)))
            << path << "\n" << ConsoleLog();
        EXPECT_TRUE(Serves(console));
    }
    std::filesystem::path parent = std::filesystem::path(dataDir_).parent_path();
    EXPECT_FALSE(std::filesystem::exists(parent / "OUT.NSF") || std::filesystem::exists(parent / "out.nsf"));
    EXPECT_FALSE(std::filesystem::exists(outside + "/evil.nsf") || std::filesystem::exists(outside + "/EVIL.NSF"));
    EXPECT_EQ("just text\n", testenv::ReadFile(DataPath("notadb.nsf")));

    // A configuration database through the link is refused as well.
    console.Command("load zelrep OTHER -f lo/zelrpcfg.nsf");
    EXPECT_TRUE(console.WaitForLine(Literal("Orvane - OTHER:  configuration instance not found: "
                                            "file=lo/zelrpcfg.nsf, instance=OTHER" + refused)))
        << ConsoleLog();

    console.Command("tell TEST outputdb out.nsf");
    console.Command("tell TEST replicate");
    EXPECT_TRUE(WaitForPublished(during.unid, "ADD", "while the paths were bad"));
    EXPECT_EQ(0, console.Quit());
    std::filesystem::remove_all(outside);
}

// A second local user, let into the data directory by a careless
// administrator, tells the task before it runs and while it runs: each
// tell fails with its cause, the task starts all the same and never hears
// of it, and the owner's tells still work.
TEST_F(BadInputTest, AnotherUserCanNeitherTellNorBlockTheTask) {
    SKIP_UNLESS_ROOT();
    CreateDirectory();
    AddPerson("First", "first");
    CreateInstance();
    std::filesystem::permissions(dataDir_, std::filesystem::perms::all);
    proctest::StartOptions other;
    other.otherUser = true;
    auto tellAsOther = [&](const std::string& command) {
        return proctest::Run({proctest::BinPath("nserver"), "--data", dataDir_, "tell", "TEST", command}, "", other);
    };
    proctest::RunResult early = tellAsOther("suspend");
    EXPECT_EQ(1, early.exitCode);
    EXPECT_TRUE(proctest::Matches(early.err, "Message queue belongs to another user")) << early.err;

    proctest::Console& console = StartServer();
    Load(console);
    EXPECT_TRUE(console.WaitForLine(Literal(taskfixture::kPassDone))) << ConsoleLog();
    proctest::RunResult late = tellAsOther("loopdetectid CN=Intruder");
    EXPECT_EQ(1, late.exitCode);
    EXPECT_TRUE(proctest::Matches(late.err, "Cannot tell TEST \\(MQ\\$TEST\\): Message queue belongs to another user"))
        << late.err;
    EXPECT_TRUE(Serves(console));
    EXPECT_FALSE(proctest::Matches(ConsoleLog(), "Intruder|Suspended")) << ConsoleLog();
    EXPECT_EQ(0, console.Quit());
}

TEST_F(BadInputTest, ConfigurationEditedWhileAPassRuns) {
    CreateDirectory();
    CreateInstance();
    std::vector<Person> people;
    for (int i = 0; i < 2000; ++i) people.push_back(AddPerson("Person " + std::to_string(i), "added"));
    proctest::Console& console = StartServer();
    Load(console);
    ASSERT_TRUE(console.WaitForLine(Literal(taskfixture::kNoteProcessed), 20000));
    std::string filter = taskfixture::kFilter;
    filter.insert(filter.find("</allow-class>"), "<allow-attr attr-name=\"Department\"/>");
    SetFilter(filter);
    Configure({"--schedule", "2", "SECONDS"});
    EXPECT_LT(console.CountLines(Literal(taskfixture::kNoteProcessed)), people.size())
        << "the pass ended before the configuration was edited";

    ASSERT_TRUE(console.WaitForLine(Literal(taskfixture::kPassDone), 60000)) << ConsoleLog();
    std::vector<OutputDocument> docs = ReadOutput();
    for (const Person& person : people) EXPECT_EQ(1, Published(docs, person.unid, "ADD", "added"));

    // Both edits reach the running task, and the pass's own write of its
    // stored time left them in the document.
    EXPECT_TRUE(WaitForAnswer(console, "tell TEST showconfig", "\tReplication process is scheduled every 2 SECONDS"))
        << ConsoleLog();
    Update(people[0], {{"Department", "Sales"}, {"Comment", "moved to sales"}});
    EXPECT_TRUE(WaitForPublished(people[0].unid, "MODIFY", "moved to sales"));
    EXPECT_TRUE(proctest::Matches(Nsfdb({"dump", "out.nsf"}), "\"Department\":\\[\"Sales\"\\]"));
    EXPECT_TRUE(proctest::Matches(Nsfdb({"dump", "zelrpcfg.nsf"}), "attr-name=\\\\\"Department"));
    EXPECT_EQ(0, Damaged(ReadOutput()));
    EXPECT_EQ(0, console.Quit());
}

TEST_F(BadInputTest, DirectoryLockedLongerThanTheBusyTimeOut) {
    testenv::WriteFile(DataPath("notes.ini"), "DbBusyTimeout=200\n");
    proctest::Console& console = StartTask({"--write-timestamps", "on", "--trace", "VERBOSE"});
    // While the lock is held, passes list the directory without it, and a
    // later listing lists the changes of the latest hundredth of a second
    // again: both people are published, the later one perhaps twice.
    Person person = AddPerson("Locked", "while locked");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Person later = AddPerson("Later", "after the person");
    taskfixture::WriteLock lock(DataPath("names.nsf"));
    EXPECT_TRUE(console.WaitForLine(Literal("Orvane - TEST: Error saving timestamp for Note " + person.unid),
                                    20000))
        << ConsoleLog();
    EXPECT_TRUE(WaitForPublished(person.unid, "ADD", "while locked"));
    EXPECT_TRUE(Serves(console));
    lock.Release();
    Update(person, {{"Comment", "after the lock"}});
    EXPECT_TRUE(WaitForPublished(person.unid, "MODIFY", "after the lock"));
    EXPECT_TRUE(WaitForPublished(later.unid, "ADD", "after the person"));
    EXPECT_EQ(0, Damaged(ReadOutput()));
    EXPECT_EQ(0, console.Quit());
}

}  // namespace

namespace {

// A directory whose pages were overwritten while the task was down: the
// task names it as damaged when it starts, its passes keep their interval,
// and nsfdb check agrees.
TEST_F(BadInputTest, DamagedDirectoryIsNamedAtStartUp) {
    CreateDirectory();
    for (int i = 0; i < 60; ++i) AddPerson("Person " + std::to_string(i), std::string(900, (char)('a' + i % 26)));
    CreateInstance();
    NSFDbClose(hDirectory_);
    hDirectory_ = NULLHANDLE;
    ASSERT_TRUE(testenv::DamagePages(DataPath("names.nsf"), 10, 25));

    proctest::Console& console = StartServer();
    Load(console);
    EXPECT_TRUE(console.WaitForLine(
        Literal("Orvane - TEST: Database names.nsf failed its integrity check: Database is damaged")))
        << ConsoleLog();
    EXPECT_EQ(1, RunNsfdb({"check", "names.nsf"}).exitCode);
    EXPECT_EQ(0, RunNsfdb({"check", "out.nsf"}).exitCode);
    EXPECT_EQ(0, console.Quit());
}

}  // namespace
