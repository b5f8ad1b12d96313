// cfgcontract_test.cpp - the contract between `nsfdb instance` and the
// task on the configuration document, tested both ways: a document that
// nsfdb writes loads into a CConfig with exactly the values asked for, and
// what the task saves with SAVECONFIG reads back through nsfdb as the
// values the task holds.
//
// Owned by the configuration schema (cfgschema). nsfdb runs as a process;
// the CConfig lives in the test, on the same data directory.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cfgschema.h"
#include "config.h"
#include "console.h"
#include "nrt_server.h"
#include "osmem.h"
#include "ostime.h"
#include "proctest.h"

namespace {

using Json = nlohmann::json;

const char kInstance[] = "CONTRACT";
const char kFilter[] =
    "<publisher-filter><allow-class class-name=\"Person\"><allow-attr attr-name=\"FullName\"/>"
    "</allow-class></publisher-filter>\n";
const char kLastEvent[] = "2026/01/05 08:00:00 AM GMT";

TIMEDATE TimeFromText(const std::string& text) {
    std::string copy = text;
    char* cursor = copy.data();
    TIMEDATE time = {{0, 0}};
    EXPECT_EQ(NOERROR, ConvertTextToTIMEDATE(nullptr, nullptr, &cursor, (WORD)copy.size(), &time)) << text;
    return time;
}

std::string Text(CConfig& config, int (CConfig::*get)(char*)) {
    char text[CFG_TEXT_SIZE];
    text[0] = '\0';
    (config.*get)(text);
    return text;
}

unsigned long ScheduleValue(CConfig& config) {
    unsigned long value = 0;
    config.GetScheduleInUnits(&value);
    return value;
}

std::string FilterText(CConfig& config) {
    unsigned long handle = 0;
    config.GetPubFilter(&handle);
    if (handle == 0) return "";
    std::string text = (const char*)OSMemoryLock((MEMHANDLE)handle);
    OSMemoryUnlock((MEMHANDLE)handle);
    return text;
}

bool SameTime(const TIMEDATE& a, const TIMEDATE& b) { return std::memcmp(&a, &b, sizeof(a)) == 0; }

class ConfigContractTest : public proctest::ProcessTest {
protected:
    void SetUp() override {
        ProcessTest::SetUp();
        log_.reset(new NRTLogCapture());
    }
    void TearDown() override {
        log_.reset();
        ProcessTest::TearDown();
    }

    // The task's CConfig of the instance, loaded from its document.
    std::unique_ptr<CConfig> Load() {
        std::unique_ptr<CConfig> config(new CConfig((char*)kInstance, (char*)DEFAULT_CFGDB_NAME));
        EXPECT_EQ(0, config->Refresh()) << log_->Joined();
        return config;
    }

    void Console(CConfig& config, const std::string& command) {
        std::vector<char> message(command.begin(), command.end());
        message.push_back('\0');
        ProcessMessage(message.data(), (WORD)command.size(), &config);
    }

    // The instance's document as nsfdb reads it: found by its name, then
    // shown whole.
    Json DocumentItems() {
        std::string unid = Nsfdb({"find", DEFAULT_CFGDB_NAME, std::string("InstanceID_text=") + kInstance});
        unid = unid.substr(0, unid.find_first_of("\r\n"));
        return Json::parse(Nsfdb({"get", DEFAULT_CFGDB_NAME, unid})).at("items");
    }

    std::unique_ptr<NRTLogCapture> log_;
};

TEST_F(ConfigContractTest, InstanceWithEveryOptionLoadsAsAsked) {
    Nsfdb({"create", "in.nsf"});
    testenv::WriteFile(DataPath("filter.xml"), kFilter);
    Nsfdb({"instance", DEFAULT_CFGDB_NAME, kInstance, "--input", "in.nsf", "--output", "out.nsf", "--filter",
           "filter.xml", "--schedule", "7", "hours", "--loop-detect-id", "Driver/Org", "--loop-detect", "on",
           "--directory", "off", "--auto-refresh", "off", "--dn-format", "ldap_typed", "--check-attrs", "on",
           "--write-timestamps", "on", "--trace", "verbose", "--last-event", kLastEvent});

    std::unique_ptr<CConfig> config = Load();
    EXPECT_EQ(kInstance, Text(*config, &CConfig::GetInstanceName));
    EXPECT_EQ("in.nsf", Text(*config, &CConfig::GetInputDB));
    EXPECT_EQ("out.nsf", Text(*config, &CConfig::GetOutputDB));
    EXPECT_EQ("HOURS", Text(*config, &CConfig::GetScheduleUnits));
    EXPECT_EQ(7ul, ScheduleValue(*config));
    EXPECT_EQ(7ul * 3600, config->Interval());
    EXPECT_EQ("CN=Driver/O=Org", Text(*config, &CConfig::GetLoopDetectID));
    EXPECT_EQ(1, config->DoLoopDetect());
    EXPECT_EQ(0, config->IsDirectory());
    EXPECT_EQ(0, config->GetAutoRefreshFlag());
    EXPECT_EQ(4ul, config->DNFormat());
    EXPECT_EQ(1, config->CheckAttrs());
    EXPECT_EQ(1, config->WriteTimeStamps());
    EXPECT_EQ((unsigned long)TRACE_VERBOSE, config->Tracing());
    TIMEDATE last;
    config->GetLastReplicationTimeStamp(&last);
    EXPECT_TRUE(SameTime(TimeFromText(kLastEvent), last));
    EXPECT_EQ("", Text(*config, &CConfig::GetInputIdentity));
    EXPECT_EQ(kFilter, FilterText(*config));
}

// A new document holds every item of the task's table but the input's
// replica ID (which the first pass writes), each of its kind, and loads
// into the task's own defaults.
TEST_F(ConfigContractTest, NewInstanceHoldsTheTaskItemsAndDefaults) {
    Nsfdb({"instance", DEFAULT_CFGDB_NAME, kInstance});
    Json items = DocumentItems();
    for (const CFG_DB_FIELD* field = cfg_db_field; field->index != CFG_END; ++field) {
        if (field->index == CFG_INPUTIDENTITY) {
            EXPECT_FALSE(items.contains(field->name));
            continue;
        }
        ASSERT_TRUE(items.contains(field->name)) << field->name;
        const Json& value = items.at(field->name);
        bool ofKind = field->kind == CFG_KIND_NUMBER ? value.is_number()
                      : field->kind == CFG_KIND_TIME ? value.is_object()
                                                     : value.is_string();
        EXPECT_TRUE(ofKind) << field->name << ": " << value;
    }

    CConfig defaults((char*)"NO SUCH INSTANCE", (char*)DEFAULT_CFGDB_NAME);
    std::unique_ptr<CConfig> config = Load();
    EXPECT_EQ(Text(defaults, &CConfig::GetScheduleUnits), Text(*config, &CConfig::GetScheduleUnits));
    EXPECT_EQ(ScheduleValue(defaults), ScheduleValue(*config));
    EXPECT_EQ(defaults.Interval(), config->Interval());
    EXPECT_EQ(defaults.DoLoopDetect(), config->DoLoopDetect());
    EXPECT_EQ(defaults.IsDirectory(), config->IsDirectory());
    EXPECT_EQ(defaults.GetAutoRefreshFlag(), config->GetAutoRefreshFlag());
    EXPECT_EQ(defaults.DNFormat(), config->DNFormat());
    EXPECT_EQ(defaults.CheckAttrs(), config->CheckAttrs());
    EXPECT_EQ(defaults.WriteTimeStamps(), config->WriteTimeStamps());
    EXPECT_EQ(defaults.Tracing(), config->Tracing());
}

TEST_F(ConfigContractTest, SaveConfigReadsBackThroughNsfdb) {
    Nsfdb({"instance", DEFAULT_CFGDB_NAME, kInstance, "--last-event", kLastEvent});
    std::unique_ptr<CConfig> config = Load();
    for (const char* command :
         {"INPUTDB in.nsf", "OUTPUTDB out.nsf", "SCHUNITS MINUTES", "SCHVAL 9", "LOOPDETECTID Driver/Org",
          "LOOPDETECT ON", "ISDIRECTORY OFF", "AUTOREFRESH OFF", "DNFORMAT LDAP", "CHECKATTRS ON",
          "WRITETIMESTAMPS ON", "TRACE DEBUG", "SAVECONFIG"})
        Console(*config, command);
    ASSERT_TRUE(proctest::Matches(log_->Joined(), "Configuration Saved")) << log_->Joined();

    Json items = DocumentItems();
    EXPECT_EQ(kInstance, items.at("InstanceID_text"));
    EXPECT_EQ(Text(*config, &CConfig::GetInputDB), items.at("InputDB_text"));
    EXPECT_EQ(Text(*config, &CConfig::GetOutputDB), items.at("OutputDB_text"));
    EXPECT_EQ("MINUTES", items.at("ScheduleUnits_text"));
    EXPECT_EQ(9, items.at("ScheduleValue_number"));
    EXPECT_EQ(Text(*config, &CConfig::GetLoopDetectID), items.at("LoopDetectID_text"));
    EXPECT_EQ(1, items.at("LoopDetect_number"));
    EXPECT_EQ(0, items.at("DirectoryFlag_number"));
    EXPECT_EQ(0, items.at("AutoRefresh_number"));
    EXPECT_EQ(2, items.at("DNFormat_number"));
    EXPECT_EQ(1, items.at("CheckAttrs_number"));
    EXPECT_EQ(1, items.at("WriteTimeStamps_number"));
    EXPECT_EQ(TRACE_DEBUG, items.at("ConsoleTraceLevel_number"));
    TIMEDATE last;
    config->GetLastReplicationTimeStamp(&last);
    EXPECT_TRUE(SameTime(last, TimeFromText(items.at("LastEventTimeStamp_TS").at("time"))));
}

}  // namespace
