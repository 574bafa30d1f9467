#include "backends/fake/fake_office.h"

#include <fcntl.h>
#include <rapidjson/document.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <set>
#include <thread>

#include "backends/fake/script_object.h"
#include "platform/processes.h"
#include "platform/worker_signals.h"
#include "file_helpers.h"

extern char** environ;

namespace parlux::fake {
namespace {

constexpr int32_t kServerUnavailable = static_cast<int32_t>(0x800706BA);  // RPC_S_SERVER_UNAVAILABLE

using Obj = std::shared_ptr<ScriptObject>;
using Log = std::shared_ptr<std::vector<std::string>>;

// The office process of a scripted application: a copy of sleep under the suite's image name.
// With a `trigger` path it is a copy of sh that, once the file exists, becomes /bin/sleep: the
// same pid under another image name. With `feed` it is a copy of dd that keeps in memory what
// is written to *feed (up to 1 GB) and ends once *feed is closed.
pid_t StartOfficeProcess(const std::string& binDir, const std::string& image, const std::string& trigger, int* feed) {
    mkdir(binDir.c_str(), 0755);
    const char* original = !trigger.empty() ? "/bin/sh" : feed ? "/bin/dd" : "/bin/sleep";
    std::string subdir = !trigger.empty() ? "/sh" : feed ? "/dd" : "";
    mkdir((binDir + subdir).c_str(), 0755);
    std::string program = binDir + subdir + "/" + image;
    if (access(program.c_str(), X_OK) != 0) {
        std::string tmp = program + ".tmp" + std::to_string(getpid());
        std::ifstream in(original, std::ios::binary);
        std::ofstream out(tmp, std::ios::binary);
        out << in.rdbuf();
        out.close();
        chmod(tmp.c_str(), 0755);
        rename(tmp.c_str(), program.c_str());
    }
    std::string script = "while [ ! -e '" + trigger + "' ]; do sleep 0.02; done; exec /bin/sleep 600";
    std::vector<std::string> args = {program};
    if (!trigger.empty())
        args.insert(args.end(), {"-c", script});
    else if (feed)
        args.insert(args.end(), {"bs=1G", "count=1", "iflag=fullblock", "of=/dev/null", "status=none"});
    else
        args.push_back("3600");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int ends[2] = {-1, -1};
    if (feed && pipe2(ends, O_CLOEXEC) == 0) posix_spawn_file_actions_adddup2(&actions, ends[0], 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = 0;
    posix_spawn_file_actions_destroy(&actions);
    if (ends[0] >= 0) close(ends[0]);
    if (feed) *feed = ends[1];
    return pid;
}

// Hands the office `megabytes` to hold (less than 1024), then waits `waitMs` unless the worker is
// told to stop first; whether it was.
bool Grow(int feed, int megabytes, int waitMs) {
    const std::string block(1 << 20, ' ');
    for (int i = 0; i < megabytes; ++i)
        if (write(feed, block.data(), block.size()) != static_cast<ssize_t>(block.size())) break;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (!platform::StopRequested() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return platform::StopRequested();
}

void StopOfficeProcess(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

int32_t Succeed(const std::vector<Variant>&, Variant&) { return 0; }

// "Object.Member" failures, hangs and worker exits of the scenario, installed on the objects by name.
struct Script {
    std::map<std::string, std::pair<int32_t, std::string>> failures;
    std::set<std::string> hangs;
    int hangMs = 120000;  // how long a hanging call takes to return
    std::map<std::string, int> exits;  // the worker dies with this status, sending no result
    std::map<std::string, int> grows;  // the office takes on this many MB, then the call takes hangMs
    int officeFeed = -1;               // what the office holds in memory is written here
    void Apply(const Obj& object, const std::vector<std::string>& members) const {
        for (const std::string& member : members) {
            std::string key = object->name() + "." + member;
            auto f = failures.find(key);
            if (f != failures.end()) object->failures[member] = f->second;
            if (hangs.count(key)) {
                int ms = hangMs;
                auto original = object->methods[member];
                object->methods[member] = [ms, original](const std::vector<Variant>& args, Variant& out) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                    return original ? original(args, out) : 0;
                };
            }
            auto e = exits.find(key);
            if (e != exits.end()) {
                int status = e->second;
                object->methods[member] = [status](const std::vector<Variant>&, Variant&) -> int32_t { _exit(status); };
            }
            auto g = grows.find(key);
            if (g != grows.end()) {
                int feed = officeFeed, megabytes = g->second, ms = hangMs;
                auto original = object->methods[member];
                auto property = object->properties.find(member);
                Variant value = property != object->properties.end() ? property->second : Variant();
                // A stopped call fails as one to an office that was killed does.
                object->methods[member] = [feed, megabytes, ms, original, value](const std::vector<Variant>& args,
                                                                                 Variant& out) {
                    if (Grow(feed, megabytes, ms)) return kServerUnavailable;
                    if (original) return original(args, out);
                    out = value;
                    return 0;
                };
            }
        }
    }
};

Script ReadScript(const rapidjson::Value& spec) {
    Script script;
    if (spec.HasMember("failures")) {
        for (const auto& f : spec["failures"].GetObject())
            script.failures[f.name.GetString()] = {f.value[0].GetInt(), f.value[1].GetString()};
    }
    if (spec.HasMember("hangs"))
        for (const auto& h : spec["hangs"].GetArray()) script.hangs.insert(h.GetString());
    if (spec.HasMember("hangMs")) script.hangMs = spec["hangMs"].GetInt();
    if (spec.HasMember("exits"))
        for (const auto& e : spec["exits"].GetObject()) script.exits[e.name.GetString()] = e.value.GetInt();
    if (spec.HasMember("grows"))
        for (const auto& g : spec["grows"].GetObject()) script.grows[g.name.GetString()] = g.value.GetInt();
    return script;
}

// Whether the application or one of its documents makes the office grow.
bool Grows(const rapidjson::Value& spec) {
    bool grows = spec.HasMember("grows");
    if (spec.HasMember("documents"))
        for (const auto& document : spec["documents"].GetObject()) grows = grows || document.value.HasMember("grows");
    return grows;
}

// Whether the office process serving the application still runs (a preexisting one always does).
bool OfficeAlive(pid_t office, bool owned) { return !owned || platform::ProcessAlive(office); }

// Writes into the temporary file the parent created, as the real back end does.
void WritePdf(const std::string& path) {
    int fd = openTempOutputForWriting(path);
    if (fd < 0) return;
    const char text[] = "%PDF-1.4\n% written by the fake office suite\n%%EOF\n";
    ssize_t written = write(fd, text, sizeof text - 1);
    (void)written;
    close(fd);
}

Obj MakeDocument(const Obj& app, const rapidjson::Value& spec, const Script& script, pid_t office, bool owned) {
    auto doc = std::make_shared<ScriptObject>("doc", std::make_shared<std::vector<std::string>>());
    doc->logFile = app->logFile;
    auto window = doc->Child("ActiveWindow", "window");
    auto view = window->Child("View", "view");
    view->Child("RevisionsFilter", "filter");
    bool writes = !spec.HasMember("exportWritesPdf") || spec["exportWritesPdf"].GetBool();
    doc->methods["ExportAsFixedFormat"] = [writes, office, owned](const std::vector<Variant>& args, Variant&) {
        if (!OfficeAlive(office, owned)) return kServerUnavailable;
        if (writes && !args.empty()) WritePdf(args[0].bstr);
        return 0;
    };
    doc->methods["Close"] = Succeed;
    script.Apply(doc, {"ExportAsFixedFormat", "Close", "ActiveWindow"});
    script.Apply(view, {"ShowRevisionsAndComments"});
    return doc;
}

Obj MakeWorkbook(const Obj& app, const rapidjson::Value& spec, const Script& script, pid_t office, bool owned) {
    Log log = std::make_shared<std::vector<std::string>>();
    auto book = std::make_shared<ScriptObject>("book", log);
    book->logFile = app->logFile;
    std::vector<Obj> sheets;
    if (spec.HasMember("sheets")) {
        for (const auto& s : spec["sheets"].GetArray()) {
            auto sheet = std::make_shared<ScriptObject>("sheet" + std::to_string(sheets.size() + 1), log);
            sheet->logFile = app->logFile;
            sheet->properties["Type"] = Variant::Int(s.HasMember("type") ? s["type"].GetInt() : -4167);
            sheet->Child("Shapes", sheet->name() + ".Shapes")->properties["Count"] =
                Variant::Int(s.HasMember("shapes") ? s["shapes"].GetInt() : 0);
            auto used = sheet->Child("UsedRange", sheet->name() + ".UsedRange");
            used->properties["Formula"] =
                s.HasMember("formula") && s["formula"].IsString() ? Variant::Text(s["formula"].GetString()) : Variant();
            auto rows = used->Child("Rows", sheet->name() + ".Rows");
            rows->properties["RowHeight"] = Variant::Real(s.HasMember("rowHeight") ? s["rowHeight"].GetDouble() : 15.0);
            sheet->Child("PageSetup", sheet->name() + ".PageSetup");
            script.Apply(sheet, {"UsedRange", "PageSetup"});
            sheets.push_back(sheet);
        }
    }
    for (const char* collection : {"Sheets", "Worksheets"}) {
        auto list = book->Child(collection, collection);
        list->properties["Count"] = Variant::Int(static_cast<int32_t>(sheets.size()));
        list->methods["Item"] = [sheets](const std::vector<Variant>& args, Variant& out) {
            size_t i = static_cast<size_t>(args.at(0).i4);
            if (i < 1 || i > sheets.size()) return static_cast<int32_t>(0x8002000B);  // DISP_E_BADINDEX
            out = Variant::Object(sheets[i - 1]);
            return 0;
        };
    }
    bool writes = !spec.HasMember("exportWritesPdf") || spec["exportWritesPdf"].GetBool();
    book->methods["ExportAsFixedFormat"] = [writes, office, owned](const std::vector<Variant>& args, Variant&) {
        if (!OfficeAlive(office, owned)) return kServerUnavailable;
        if (writes && args.size() > 1) WritePdf(args[1].bstr);
        return 0;
    };
    book->methods["Close"] = Succeed;
    script.Apply(book, {"ExportAsFixedFormat", "Close"});
    return book;
}

}  // namespace

int32_t CreateFakeApplication(const std::string& progId, DispatchObject& out) {
    const char* path = std::getenv("PARLUX_FAKE_SCENARIO");
    std::ifstream in(path ? path : "");
    std::stringstream text;
    text << in.rdbuf();
    rapidjson::Document doc;
    doc.Parse(text.str().c_str());
    if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("apps") || !doc["apps"].HasMember(progId.c_str()))
        return static_cast<int32_t>(0x80080005);  // CO_E_SERVER_EXEC_FAILURE
    const rapidjson::Value& spec = doc["apps"][progId.c_str()];
    Script script = ReadScript(spec);
    // "startMs": how long the application takes to start, as a real office does.
    if (spec.HasMember("startMs") && spec["startMs"].IsInt())
        std::this_thread::sleep_for(std::chrono::milliseconds(spec["startMs"].GetInt()));

    auto app = std::make_shared<ScriptObject>("app", std::make_shared<std::vector<std::string>>());
    if (doc.HasMember("calls")) app->logFile = doc["calls"].GetString();
    pid_t office = 0;
    std::string trigger;
    if (spec.HasMember("preexistingPid")) {
        office = spec["preexistingPid"].GetInt();
    } else {
        std::string bin = doc.HasMember("bin") ? doc["bin"].GetString() : "/tmp";
        trigger = spec.HasMember("imageChangesOnQuit") ? bin + "/changed." + std::to_string(getpid()) : "";
        office = StartOfficeProcess(bin, spec.HasMember("image") ? spec["image"].GetString() : "office.exe", trigger,
                                    Grows(spec) ? &script.officeFeed : nullptr);
    }
    app->properties["Hwnd"] = Variant::Int(office);
    bool ownsProcess = !spec.HasMember("preexistingPid");
    bool quitFails = script.failures.count("app.Quit") > 0;
    int feed = script.officeFeed;
    app->methods["Quit"] = [office, ownsProcess, quitFails, trigger, feed](const std::vector<Variant>&, Variant&) {
        if (!trigger.empty()) {
            // Leaves the office running under another image name (a pid the supervisor must not trust).
            std::string image = platform::ProcessImageName(office);
            std::ofstream(trigger).put('1');
            for (int i = 0; i < 200 && platform::ProcessImageName(office) == image; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            return 0;
        }
        if (ownsProcess && !quitFails) {
            StopOfficeProcess(office);
            if (feed >= 0) close(feed);
        }
        return 0;
    };
    auto documents = app->Child("Documents", "Documents");
    auto workbooks = app->Child("Workbooks", "Workbooks");
    auto docSpec = std::make_shared<rapidjson::Document>();
    docSpec->CopyFrom(spec, docSpec->GetAllocator());
    std::weak_ptr<ScriptObject> weakApp = app;
    // "documents" gives scripts of their own to the documents of those file names.
    auto open = [docSpec, script, weakApp, office, ownsProcess](const std::vector<Variant>& args, Variant& result,
                                                                 bool word) {
        if (!OfficeAlive(office, ownsProcess)) return kServerUnavailable;
        const rapidjson::Value* spec = docSpec.get();
        Script own = script;
        std::string path = args.empty() ? std::string() : args[0].bstr;
        std::string name = path.substr(path.rfind('/') + 1);
        if (docSpec->HasMember("documents") && (*docSpec)["documents"].HasMember(name.c_str())) {
            spec = &(*docSpec)["documents"][name.c_str()];
            own = ReadScript(*spec);
            own.officeFeed = script.officeFeed;
            if (own.hangs.count(word ? "Documents.Open" : "Workbooks.Open"))
                std::this_thread::sleep_for(std::chrono::milliseconds(own.hangMs));
            auto exit = own.exits.find(word ? "Documents.Open" : "Workbooks.Open");
            if (exit != own.exits.end()) _exit(exit->second);
        }
        result = Variant::Object(word ? MakeDocument(weakApp.lock(), *spec, own, office, ownsProcess)
                                      : MakeWorkbook(weakApp.lock(), *spec, own, office, ownsProcess));
        return 0;
    };
    documents->methods["Open"] = [open](const std::vector<Variant>& args, Variant& result) {
        return open(args, result, true);
    };
    workbooks->methods["Open"] = [open](const std::vector<Variant>& args, Variant& result) {
        return open(args, result, false);
    };
    script.Apply(app, {"Quit", "Visible", "DisplayAlerts", "AutomationSecurity", "AskToUpdateLinks"});
    script.Apply(documents, {"Open"});
    script.Apply(workbooks, {"Open"});
    out = DispatchObject(app);
    return 0;
}

}  // namespace parlux::fake
