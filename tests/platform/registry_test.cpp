#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "../soak.h"

#include "platform/com/comcat.h"
#include "platform/com/activation.h"
#include "platform/com/registrar.h"
#include "platform/com/registry_store.h"

namespace reg = velmora::registry;
using namespace std::string_literals;

namespace {

class RegistryFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("velmora-regtest-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        path_ = (dir_ / "sub" / "registry.reg").string();
        setenv("VELMORA_REGISTRY", path_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("VELMORA_REGISTRY");
        std::filesystem::remove_all(dir_);
    }
    std::string Text() {
        std::ifstream in(path_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::filesystem::path dir_;
    std::string path_;
};

HKEY Create(HKEY parent, const char* path) {
    HKEY k = nullptr;
    EXPECT_EQ(RegCreateKeyExA(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    return k;
}

} // namespace

TEST_F(RegistryFile, KeysValuesAndTheFileFormat) {
    HKEY k = Create(HKEY_CLASSES_ROOT, "Demo\\Inner");
    const char text[] = "a \"quoted\" \\ path";
    ASSERT_EQ(
        RegSetValueExA(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
        ERROR_SUCCESS);
    DWORD number = 0x1234abcd;
    ASSERT_EQ(RegSetValueExA(k, "Number", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4),
              ERROR_SUCCESS);
    const BYTE blob[] = {1, 0xfe, 0};
    ASSERT_EQ(RegSetValueExA(k, "Blob", 0, REG_BINARY, blob, 3), ERROR_SUCCESS);
    RegCloseKey(k);

    EXPECT_EQ(Text(), "Windows Registry Editor Version 5.00\n\n"
                      "[HKEY_CLASSES_ROOT]\n\n"
                      "[HKEY_CLASSES_ROOT\\Demo]\n\n"
                      "[HKEY_CLASSES_ROOT\\Demo\\Inner]\n"
                      "@=\"a \\\"quoted\\\" \\\\ path\"\n"
                      "\"Blob\"=hex:01,fe,00\n"
                      "\"Number\"=dword:1234abcd\n\n");

    // Names compare without case; sizes follow Windows' rules.
    HKEY again = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "DEMO\\inner", 0, KEY_READ, &again), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(again, "number", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, 4u);
    char small[4];
    size = sizeof small;
    EXPECT_EQ(
        RegQueryValueExA(again, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(small), &size),
        ERROR_MORE_DATA);
    EXPECT_EQ(size, sizeof text);
    std::string s;
    EXPECT_TRUE(reg::ReadString(HKEY_CLASSES_ROOT, "Demo\\Inner", "", &s));
    EXPECT_EQ(s, text);
    EXPECT_EQ(RegQueryValueExA(again, "Missing", nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);

    // A key with subkeys is deleted only as a tree.
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Demo"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueA(again, "Blob"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "Demo"), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(again, "x", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4),
              ERROR_FILE_NOT_FOUND)
        << "the open key went away";
    RegCloseKey(again);
    HKEY gone = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Demo", 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);

    // The file parses back to what was written, and a hand-written one reads as written.
    reg::Hive hive;
    std::string error;
    ASSERT_TRUE(reg::Parse(Text(), "f", &hive, &error)) << error;
    EXPECT_EQ(reg::Format(hive), Text());
}

TEST_F(RegistryFile, ParseErrorsNameTheirLine) {
    struct Case {
        const char* text;
        const char* where;
    } cases[] = {
        {"REGEDIT4\n", "f:1:"},
        {"Windows Registry Editor Version 5.00\n\n@=\"x\"\n", "f:3:"},
        {"Windows Registry Editor Version 5.00\n[HKEY_NOWHERE\\A]\n", "f:2:"},
        {"Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\A]\n\"v\"=dword:1\n", "f:3:"},
        {"Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\A]\n\"v\"=\"open\n", "f:3:"},
        {"Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\A\n", "f:2:"},
    };
    for (const auto& c : cases) {
        reg::Hive hive;
        std::string error;
        EXPECT_FALSE(reg::Parse(c.text, "f", &hive, &error)) << c.text;
        EXPECT_EQ(error.rfind(c.where, 0), 0u) << error;
    }
    reg::Hive hive;
    std::string error;
    ASSERT_TRUE(reg::Parse("\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
                           "; a comment\r\n[HKEY_CURRENT_USER\\K]\r\n\"b\"=hex:01,\\\r\n  02\r\n"
                           "[-HKEY_CURRENT_USER\\Gone]\r\n",
                           "f", &hive, &error))
        << error;
    auto* k = hive.top.Find("HKEY_CURRENT_USER\\k");
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->values["b"].data, (std::vector<BYTE>{1, 2}));
}

// Found by fuzz/registry_fuzzer.cpp; the inputs are in fuzz/regressions/registry/.
TEST_F(RegistryFile, EveryValueSurvivesARewrite) {
    // Types in hex as regedit writes them (REG_QWORD is hex(b)), strings that the quoted form
    // cannot carry (no terminator, a zero inside, a line break) as hex(1), empty binary data.
    const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_CURRENT_USER\\K]\r\n\r\n"
                             "\"quad\"=hex(b):01,00,00,00,00,00,00,00\r\n"
                             "\"sixteen\"=hex(10):01\r\n"
                             "\"nul\"=\"a\0b\"\r\n"
                             "\"break\"=hex(1):61,0a,62,00\r\n"
                             "\"open\"=hex(1):61,62\r\n"
                             "\"empty\"=hex:\r\n"s; // "s": the text holds a zero
    reg::Hive hive;
    std::string error;
    ASSERT_TRUE(reg::Parse(text, "f", &hive, &error)) << error;
    const std::string formatted = reg::Format(hive);
    EXPECT_NE(formatted.find("\"quad\"=hex(b):01,00"), std::string::npos) << formatted;
    EXPECT_NE(formatted.find("\"nul\"=hex(1):61,00,62,00\n"), std::string::npos) << formatted;
    reg::Hive again;
    ASSERT_TRUE(reg::Parse(formatted, "g", &again, &error)) << error << formatted;
    auto* a = hive.top.Find("HKEY_CURRENT_USER\\K");
    auto* b = again.top.Find("HKEY_CURRENT_USER\\K");
    ASSERT_TRUE(a && b);
    ASSERT_EQ(a->values.size(), 6u);
    for (const auto& [name, v] : a->values) {
        EXPECT_EQ(b->values[name].type, v.type) << name;
        EXPECT_EQ(b->values[name].data, v.data) << name;
    }
    EXPECT_EQ(a->values["quad"].type, 0xbu);
    EXPECT_EQ(a->values["sixteen"].type, 0x10u);

    // Read through the calls: an empty value copies nothing into a buffer.
    std::filesystem::create_directories(dir_ / "sub");
    std::ofstream(path_.c_str(), std::ios::binary) << text;
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_READ, &k), ERROR_SUCCESS);
    BYTE buffer[4] = {7, 7, 7, 7};
    DWORD type = 0, size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(k, "empty", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(buffer[0], 7);
    RegCloseKey(k);

    // A blank line of a CRLF file, and "hex(1)" with nothing after it.
    EXPECT_TRUE(
        reg::Parse("Windows Registry Editor Version 5.00\r\n\r\n   \r\n", "f", &again, &error))
        << error;
    EXPECT_FALSE(reg::Parse("Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\K]\n"
                            "\"v\"=hex(1)\n",
                            "f", &again, &error));
    EXPECT_EQ(error.rfind("f:3:", 0), 0u) << error;
}

TEST_F(RegistryFile, NamesTheFileCannotHoldAreRefused) {
    // A line break would end the name's line, an empty name ("a\\b") makes a path the parser
    // refuses: either would leave a file that never parses (and is never written) again.
    HKEY k = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "a\\\\b", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &k, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "line\nbreak", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &k, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(k, nullptr);
    k = Create(HKEY_CURRENT_USER, "\\Fine\\Key\\");
    const BYTE one = 1;
    EXPECT_EQ(RegSetValueExA(k, "x\ny", 0, REG_BINARY, &one, 1), ERROR_INVALID_PARAMETER);
    // Data may hold anything.
    const char text[] = "two\nlines";
    EXPECT_EQ(
        RegSetValueExA(k, "text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
        ERROR_SUCCESS);
    RegCloseKey(k);
    std::string s;
    EXPECT_TRUE(reg::ReadString(HKEY_CURRENT_USER, "Fine\\Key", "text", &s));
    EXPECT_EQ(s, text);
    reg::Hive hive;
    std::string error;
    EXPECT_TRUE(reg::Parse(Text(), "f", &hive, &error)) << error;
}

TEST_F(RegistryFile, ScriptsRegisterAndUnregister) {
    const std::string script = R"(
HKCR
{
    Sample.Thing = s 'It''s a thing'
    {
        CLSID = s '{11111111-2222-3333-4444-555555555555}'
    }
    NoRemove CLSID
    {
        ForceRemove {11111111-2222-3333-4444-555555555555} = s 'Thing'
        {
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'Both'
                val Count = d '12'
            }
        }
    }
})";
    // Something left from before under the class key goes away with ForceRemove.
    HKEY old = Create(HKEY_CLASSES_ROOT, "CLSID\\{11111111-2222-3333-4444-555555555555}\\Stale");
    RegCloseKey(old);
    HKEY other = Create(HKEY_CLASSES_ROOT, "CLSID\\{99999999-2222-3333-4444-555555555555}");
    RegCloseKey(other);

    ASSERT_EQ(velmora::com::ApplyRegistryScript(script, true, {{"MODULE", "/opt/x.so"}}), S_OK)
        << reg::LastError();
    std::string s;
    EXPECT_TRUE(reg::ReadString(HKEY_CLASSES_ROOT, "Sample.Thing", "", &s));
    EXPECT_EQ(s, "It's a thing");
    EXPECT_TRUE(reg::ReadString(HKEY_CLASSES_ROOT,
                                "CLSID\\{11111111-2222-3333-4444-555555555555}\\InprocServer32", "",
                                &s));
    EXPECT_EQ(s, "/opt/x.so");
    HKEY stale = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT,
                            "CLSID\\{11111111-2222-3333-4444-555555555555}\\Stale", 0, KEY_READ,
                            &stale),
              ERROR_FILE_NOT_FOUND);

    ASSERT_EQ(velmora::com::ApplyRegistryScript(script, false, {{"MODULE", "/opt/x.so"}}), S_OK);
    HKEY k = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Sample.Thing", 0, KEY_READ, &k),
              ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{99999999-2222-3333-4444-555555555555}", 0,
                            KEY_READ, &k),
              ERROR_SUCCESS)
        << "NoRemove keeps CLSID and what else is in it";
    RegCloseKey(k);

    const std::string before = Text();
    EXPECT_EQ(velmora::com::ApplyRegistryScript("HKCR { A = s 'x' { B = d 'nope' } }", true, {}),
              E_INVALIDARG);
    EXPECT_EQ(Text(), before) << "a bad script changes nothing";
    EXPECT_EQ(velmora::com::ApplyRegistryScript("HKCR { A = s '%UNKNOWN%' }", true, {}),
              E_INVALIDARG);
    EXPECT_NE(reg::LastError().find("UNKNOWN"), std::string::npos);
    EXPECT_EQ(velmora::com::ApplyRegistryScript("HKXX { }", true, {}), E_INVALIDARG);
}

TEST_F(RegistryFile, CategoriesAsWindowsKeepsThem) {
    ICatRegister* cats = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                               uuidof<ICatRegister>(), reinterpret_cast<void**>(&cats)),
              S_OK);
    const CLSID clsid = velmora::com::MakeGuid("{11111111-2222-3333-4444-555555555555}");
    CATID ids[2] = {velmora::com::MakeGuid("{C501EDBE-9E70-11D1-9053-00C04FD9189D}"),
                    velmora::com::MakeGuid("{22222222-2222-3333-4444-555555555555}")};
    ASSERT_EQ(cats->RegisterClassImplCategories(clsid, 2, ids), S_OK);
    const std::string list =
        "CLSID\\{11111111-2222-3333-4444-555555555555}\\Implemented Categories";
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT,
                            (list + "\\{C501EDBE-9E70-11D1-9053-00C04FD9189D}").c_str(), 0,
                            KEY_READ, &k),
              ERROR_SUCCESS);
    RegCloseKey(k);
    ASSERT_EQ(cats->UnRegisterClassImplCategories(clsid, 1, ids), S_OK);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, list.c_str(), 0, KEY_READ, &k), ERROR_SUCCESS);
    RegCloseKey(k);
    ASSERT_EQ(cats->UnRegisterClassImplCategories(clsid, 1, ids + 1), S_OK);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, list.c_str(), 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND)
        << "the list goes with its last entry";
    EXPECT_EQ(cats->UnRegisterClassImplCategories(clsid, 1, ids), S_OK) << "nothing left: fine";
    cats->Release();
}

// --- Faults: the disk filling up during a write, a folder or file that may not be written, and
// a writer killed in the middle. The old file must stay whole and readable every time, and the
// failure must be reported.

namespace {

// Runs f in a child process and answers its exit code (128 + signal if it was killed).
int InChild(const std::function<int()>& f) {
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(f());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// In a child that runs as root: become the unprivileged user, for whom permissions count.
bool DropPrivileges() {
    return ::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0);
}

LSTATUS SetBlob(const char* key, const std::vector<BYTE>& blob) {
    HKEY k = nullptr;
    LSTATUS r = RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                                nullptr);
    if (r != ERROR_SUCCESS)
        return r;
    r = RegSetValueExA(k, "Blob", 0, REG_BINARY, blob.data(), static_cast<DWORD>(blob.size()));
    RegCloseKey(k);
    return r;
}

std::vector<std::string> Names(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST_F(RegistryFile, ADiskFullDuringAWriteLeavesTheOldFileWhole) {
    velmora::test::Stopwatch watch;
    ASSERT_EQ(SetBlob("Software\\Old", std::vector<BYTE>(100, 0x11)), ERROR_SUCCESS);
    RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\New")); // so that setting is one write
    const std::string old = Text();
    const std::vector<BYTE> big(1500, 0xAB);
    // The size the new file would have.
    reg::Hive hive;
    std::string error;
    ASSERT_TRUE(reg::Parse(old, "f", &hive, &error));
    hive.top.Create("HKEY_CURRENT_USER\\Software\\New")->values["Blob"] =
        reg::Value{"Blob", REG_BINARY, big};
    const size_t size = reg::Format(hive).size();
    ASSERT_GT(size, old.size());

    // The file size limit stops the write of the temporary file at every offset in turn (a
    // sample of them in the normal run), as a full disk would.
    std::vector<size_t> limits;
    const size_t step = velmora::test::Soak() ? 1 : size / 24;
    for (size_t at = 0; at < size; at += step)
        limits.push_back(at);
    limits.push_back(size - 1);
    for (size_t limit : limits) {
        const int code = InChild([&] {
            std::signal(SIGXFSZ, SIG_IGN); // write answers EFBIG instead of killing the process
            const rlimit r{limit, limit};
            if (::setrlimit(RLIMIT_FSIZE, &r) != 0)
                return 90;
            const LSTATUS s = SetBlob("Software\\New", big);
            if (s != ERROR_WRITE_FAULT)
                return 91;
            return reg::LastError().find("File too large") == std::string::npos ? 92 : 0;
        });
        ASSERT_EQ(code, 0) << "file size limit " << limit;
        ASSERT_EQ(Text(), old) << "file size limit " << limit;
    }
    EXPECT_EQ(Names(dir_ / "sub"), (std::vector<std::string>{"registry.reg", "registry.reg.lock"}))
        << "no temporary file is left";
    // Readable as before, and the next write goes through.
    std::string s;
    HKEY k = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Old", 0, KEY_READ, &k), ERROR_SUCCESS);
    RegCloseKey(k);
    EXPECT_EQ(SetBlob("Software\\New", big), ERROR_SUCCESS);
    EXPECT_EQ(Text(), reg::Format(hive));
    velmora::test::Figure("faults injected", static_cast<double>(limits.size()));
    watch.Report();
}

TEST_F(RegistryFile, AFolderThatMayNotBeWrittenLeavesTheOldFileWhole) {
    ASSERT_EQ(SetBlob("Software\\Old", {1, 2, 3}), ERROR_SUCCESS);
    const std::string old = Text();
    const auto sub = dir_ / "sub";
    for (bool withLockFile : {true, false}) {
        if (!withLockFile)
            std::filesystem::remove(sub / "registry.reg.lock");
        ASSERT_EQ(::chmod(sub.c_str(), 0555), 0);
        const int code = InChild([&] {
            if (!DropPrivileges())
                return 90;
            if (SetBlob("Software\\New", {4, 5, 6}) == ERROR_SUCCESS)
                return 91; // a failure reported as success
            HKEY k = nullptr;
            if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Old", 0, KEY_READ, &k) != ERROR_SUCCESS)
                return 92; // still readable
            RegCloseKey(k);
            return reg::LastError().empty() ? 93 : 0;
        });
        ::chmod(sub.c_str(), 0755);
        EXPECT_EQ(code, 0) << (withLockFile ? "with" : "without") << " the lock file";
        EXPECT_EQ(Text(), old);
        for (const auto& name : Names(sub))
            EXPECT_EQ(name.find(".tmp."), std::string::npos) << name;
    }
}

// A replaced file keeps its permissions (a private registry stays private); one that may not be
// written is not replaced, even where its folder may be.
TEST_F(RegistryFile, PermissionsOfTheFileAreKept) {
    ASSERT_EQ(SetBlob("Software\\Old", {1, 2, 3}), ERROR_SUCCESS);
    ASSERT_EQ(::chmod(path_.c_str(), 0600), 0);
    ASSERT_EQ(SetBlob("Software\\New", {4, 5, 6}), ERROR_SUCCESS);
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const std::string old = Text();
    const auto sub = dir_ / "sub";
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(sub.c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chown((sub / "registry.reg.lock").c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chown(path_.c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
    const int code = InChild([&] {
        if (!DropPrivileges())
            return 90;
        if (SetBlob("Software\\Other", {7}) != ERROR_ACCESS_DENIED)
            return 91;
        return reg::LastError().find("registry.reg") == std::string::npos ? 92 : 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Text(), old);
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
}

// Writers killed at random moments, in the middle of writes: the file is whole after each kill,
// and the temporary files they leave are removed by the next write.
TEST_F(RegistryFile, AKilledWriterLeavesAWholeFile) {
    velmora::test::Stopwatch watch;
    ASSERT_EQ(SetBlob("Software\\Old", {1, 2, 3}), ERROR_SUCCESS);
    const long kills = velmora::test::Count(6, 100);
    long landed = 0;
    for (long i = 0; i < kills; ++i) {
        std::fflush(nullptr);
        pid_t pid = ::fork();
        if (pid == 0) {
            for (int n = 0;; ++n)
                SetBlob(("Software\\K" + std::to_string(n % 50)).c_str(),
                        std::vector<BYTE>(2000, static_cast<BYTE>(n)));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + i * 37 % 60));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        landed += WIFSIGNALED(status);
        reg::Hive hive;
        std::string error;
        ASSERT_TRUE(reg::Parse(Text(), path_, &hive, &error))
            << "after kill " << i << ": " << error;
        ASSERT_NE(hive.top.Find("HKEY_CURRENT_USER\\Software\\Old"), nullptr);
    }
    long left = 0;
    for (const auto& name : Names(dir_ / "sub"))
        left += name.find(".tmp.") != std::string::npos;
    // One as a writer that died after writing part of its file leaves it.
    std::ofstream(path_ + ".tmp.999999.1") << "Windows Registry Editor Version 5.00\n\n[HKEY_CU";
    ASSERT_EQ(SetBlob("Software\\Last", {9}), ERROR_SUCCESS);
    EXPECT_EQ(Names(dir_ / "sub"), (std::vector<std::string>{"registry.reg", "registry.reg.lock"}))
        << "the next write removes what killed writers left";
    velmora::test::Figure("writers killed", static_cast<double>(landed));
    velmora::test::Figure("temporary files they left", static_cast<double>(left));
    watch.Report();
}
