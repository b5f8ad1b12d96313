// env.cpp - data directory, notes.ini and database path resolution.
//
// The settings are read once per data directory and kept; setting another
// data directory reads them again. Path resolution refuses any name that
// could reach outside the data directory.
#include "env.h"

#include <dirent.h>
#include <sys/stat.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <vector>

#include "nrt_env.h"
#include "osenv.h"
#include "platform.h"
#include "status.h"

namespace nrt {
namespace {

const char kDefaultUserName[] = "CN=Server/O=Org";

struct Environment {
    std::mutex mutex;
    std::string data_dir;
    bool ini_loaded = false;
    std::map<std::string, std::string> ini;  // keys upper-cased
    std::string user_override;
};

Environment& Env() {
    static Environment env;
    return env;
}

std::atomic<uint64_t> g_settingsGeneration{1};

std::string Upper(std::string text) {
    for (char& c : text) c = (char)std::toupper((unsigned char)c);
    return text;
}

std::string Lower(std::string text) {
    for (char& c : text) c = (char)std::tolower((unsigned char)c);
    return text;
}

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return "";
    size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

// Caller holds the mutex.
const std::string& DataDirectoryLocked(Environment& env) {
    if (env.data_dir.empty()) {
        const char* from_env = std::getenv("NOTES_DATA_DIR");
        std::string dir = from_env && *from_env ? AbsoluteDirectory(from_env) : "";
        env.data_dir = dir.empty() ? AbsoluteDirectory(".") : dir;
    }
    return env.data_dir;
}

// Caller holds the mutex.
void LoadIniLocked(Environment& env) {
    if (env.ini_loaded) return;
    env.ini_loaded = true;
    std::ifstream in(DataDirectoryLocked(env) + "/notes.ini");
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq == std::string::npos || line[0] == ';' || line[0] == '[') continue;
        std::string key = Upper(Trim(line.substr(0, eq)));
        if (!key.empty()) env.ini[key] = Trim(line.substr(eq + 1));
    }
}

// The entry of dir whose name equals name without regard to case, an
// exact match first.
bool FindEntry(const std::string& dir, const std::string& name, std::string* found) {
    struct stat info;
    if (stat((dir + "/" + name).c_str(), &info) == 0) {
        *found = name;
        return true;
    }
    DIR* handle = opendir(dir.c_str());
    if (handle == nullptr) return false;
    bool matched = false;
    std::string wanted = Lower(name);
    while (struct dirent* entry = readdir(handle)) {
        if (Lower(entry->d_name) == wanted) {
            *found = entry->d_name;
            matched = true;
            break;
        }
    }
    closedir(handle);
    return matched;
}

bool SplitComponents(const std::string& name, std::vector<std::string>* parts) {
    std::string part;
    for (size_t i = 0; i <= name.size(); ++i) {
        char c = i < name.size() ? name[i] : '/';
        if (c != '/' && c != '\\') {
            part += c;
            continue;
        }
        if (part == "..") return false;
        if (!part.empty() && part != ".") parts->push_back(part);
        part.clear();
    }
    return !parts->empty();
}

}  // namespace

std::string DataDirectory() {
    Environment& env = Env();
    std::lock_guard<std::mutex> lock(env.mutex);
    return DataDirectoryLocked(env);
}

bool IniSetting(const std::string& key, std::string* value) {
    Environment& env = Env();
    std::lock_guard<std::mutex> lock(env.mutex);
    LoadIniLocked(env);
    auto it = env.ini.find(Upper(key));
    if (it == env.ini.end()) return false;
    *value = it->second;
    return true;
}

uint64_t SettingsGeneration() { return g_settingsGeneration.load(std::memory_order_acquire); }

// Every saved note asks for the name: one look-up under the lock.
std::string UserName() {
    Environment& env = Env();
    std::lock_guard<std::mutex> lock(env.mutex);
    if (!env.user_override.empty()) return env.user_override;
    LoadIniLocked(env);
    auto it = env.ini.find("SERVERNAME");
    if (it != env.ini.end() && !it->second.empty()) return it->second;
    return kDefaultUserName;
}

STATUS ResolveDbPath(const char* name, bool create, std::string* path) {
    if (name == nullptr || *name == '\0') return Fail(ERR_BAD_PARAM, "database name is empty");
    std::string text(name);
    bool absolute = text[0] == '/' || text[0] == '\\' ||
                    (text.size() > 1 && text[1] == ':' && std::isalpha((unsigned char)text[0]));
    std::vector<std::string> parts;
    if (absolute || !SplitComponents(text, &parts))
        return Fail(ERR_BAD_PATH, "database name \"" + text + "\"");
    std::string current = DataDirectory();
    bool missing = false;
    for (size_t i = 0; i < parts.size(); ++i) {
        bool last = i + 1 == parts.size();
        std::string found;
        if (FindEntry(current, parts[i], &found)) {
            current += "/" + found;
            continue;
        }
        if (last && parts[i].find('.') == std::string::npos &&
            FindEntry(current, parts[i] + ".nsf", &found)) {
            current += "/" + found;
            continue;
        }
        missing = true;
        current += "/" + Lower(parts[i]);
    }
    // Links inside the data directory may lead anywhere: where they lead must
    // be inside too, also for a file not there yet.
    STATUS status = RealPathInside(DataDirectory(), current, path);
    if (status == NOERROR && missing && !create) return Fail(ERR_NOEXIST, "database \"" + text + "\"");
    return status;
}

}  // namespace nrt

extern "C" {

STATUS LNPUBLIC NRTSetDataDirectory(const char* path) {
    if (path == nullptr) return nrt::Fail(ERR_BAD_PARAM, "data directory");
    std::string dir = nrt::AbsoluteDirectory(path);
    if (dir.empty()) return nrt::Fail(ERR_NOEXIST, std::string("data directory \"") + path + "\"");
    nrt::Environment& env = nrt::Env();
    std::lock_guard<std::mutex> lock(env.mutex);
    env.data_dir = dir;
    env.ini_loaded = false;
    env.ini.clear();
    nrt::g_settingsGeneration.fetch_add(1, std::memory_order_acq_rel);
    return NOERROR;
}

void LNPUBLIC NRTGetDataDirectory(char* retPath, WORD bufferLength) {
    if (retPath == nullptr || bufferLength == 0) return;
    std::string dir = nrt::DataDirectory();
    size_t length = dir.size() < bufferLength - 1u ? dir.size() : bufferLength - 1u;
    std::memcpy(retPath, dir.data(), length);
    retPath[length] = '\0';
}

void LNPUBLIC NRTSetUserName(const char* canonicalName) {
    nrt::Environment& env = nrt::Env();
    std::lock_guard<std::mutex> lock(env.mutex);
    env.user_override = canonicalName ? canonicalName : "";
}

void LNPUBLIC NRTGetUserName(char* retName, WORD bufferLength) {
    if (retName == nullptr || bufferLength == 0) return;
    std::string name = nrt::UserName();
    size_t length = name.size() < bufferLength - 1u ? name.size() : bufferLength - 1u;
    std::memcpy(retName, name.data(), length);
    retName[length] = '\0';
}

BOOL LNPUBLIC OSGetEnvironmentString(const char* variableName, char* retBuffer,
                                     WORD bufferLength) {
    std::string value;
    if (variableName == nullptr || !nrt::IniSetting(variableName, &value)) return FALSE;
    if (retBuffer != nullptr && bufferLength > 0) {
        size_t length = value.size() < bufferLength ? value.size() : bufferLength;
        std::memcpy(retBuffer, value.data(), length);
        retBuffer[length] = '\0';
    }
    return TRUE;
}

long LNPUBLIC OSGetEnvironmentLong(const char* variableName) {
    std::string value;
    if (variableName == nullptr || !nrt::IniSetting(variableName, &value)) return 0;
    return std::strtol(value.c_str(), nullptr, 10);
}

}  // extern "C"
