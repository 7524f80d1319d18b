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

#include "../soak.h"
#include "../support/temp_registry.h"

#include "platform/com/activation.h"
#include "platform/com/comcat.h"
#include "platform/com/registrar.h"
#include "platform/com/registry_store.h"

namespace reg = velmora::registry;
using namespace std::string_literals;

namespace {

class RegistryFile : public ::testing::Test {
protected:
    std::string Text() { return reg_.Text(); }
    TempRegistry reg_{"sub"};
    const std::filesystem::path sub_ = reg_.folder();
    const std::string path_ = reg_.path();
};

HKEY Create(HKEY parent, const char* path) {
    HKEY k = nullptr;
    EXPECT_EQ(RegCreateKeyExA(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    return k;
}

bool Exists(HKEY root, const std::string& path) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return false;
    RegCloseKey(k);
    return true;
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

// Runs f in a child process and answers its exit code.
int InChild(const std::function<int()>& f) {
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(f());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

TEST_F(RegistryFile, NamesQuerySizesAndSubkeys) {
    HKEY k = Create(HKEY_CLASSES_ROOT, "Demo\\Inner");
    const char text[] = "a \"quoted\" \\ path";
    ASSERT_EQ(
        RegSetValueExA(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
        ERROR_SUCCESS);
    RegCloseKey(k);

    // Re-read from the file: the names compare without case, sizes follow Windows' rules.
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "DEMO\\inner", 0, KEY_READ, &k), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(k, nullptr, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, sizeof text);
    char small[4];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(k, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(small), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, sizeof text);
    RegCloseKey(k);
    std::string s;
    EXPECT_TRUE(reg::ReadString(HKEY_CLASSES_ROOT, "demo\\INNER", "", &s));
    EXPECT_EQ(s, text);

    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Demo"), ERROR_ACCESS_DENIED) << "it has subkeys";
    EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, "Demo\\Inner"));

    // A line break would end the name's line and an empty name in a path makes one the parser
    // refuses: either would leave a file that never parses again. Data may hold anything.
    for (const char* bad : {"a\\\\b", "line\nbreak"})
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, bad, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &k, nullptr),
                  ERROR_INVALID_PARAMETER)
            << bad;
    k = Create(HKEY_CURRENT_USER, "Fine");
    const char lines[] = "two\nlines";
    EXPECT_EQ(RegSetValueExA(k, "x\ny", 0, REG_SZ, reinterpret_cast<const BYTE*>(lines), 2),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(
        RegSetValueExA(k, "text", 0, REG_SZ, reinterpret_cast<const BYTE*>(lines), sizeof lines),
        ERROR_SUCCESS);
    RegCloseKey(k);
    EXPECT_TRUE(reg::ReadString(HKEY_CURRENT_USER, "Fine", "text", &s));
    EXPECT_EQ(s, lines);
}

TEST_F(RegistryFile, AFileThatDoesNotParseIsReportedAndNeverOverwritten) {
    const std::string broken =
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\A]\n\"x\"=dword:12\n";
    std::filesystem::create_directories(sub_);
    std::ofstream(path_) << broken;
    EXPECT_NE(SetBlob("B", {1}), ERROR_SUCCESS);
    EXPECT_NE(reg::LastError().find("registry.reg:4:"), std::string::npos) << reg::LastError();
    EXPECT_EQ(Text(), broken);
}

// Found by fuzzing: types were written in decimal and read in hex, strings with a zero, a line
// break or no terminator were cut or broke the file, a CRLF blank line and "hex(1)" without a colon
// were undefined, an empty value was copied from null.
TEST_F(RegistryFile, EveryValueSurvivesARewrite) {
    const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n   \r\n"
                             "[HKEY_CURRENT_USER\\K]\r\n"
                             "\"quad\"=hex(b):01,00,00,00,00,00,00,00\r\n"
                             "\"sixteen\"=hex(10):01\r\n"
                             "\"nul\"=\"a\0b\"\r\n"
                             "\"break\"=hex(1):61,0a,62,00\r\n"
                             "\"open\"=hex(1):61,62\r\n"
                             "\"empty\"=hex:\r\n"s; // "s": the text holds a zero
    reg::Hive hive, again;
    std::string error;
    ASSERT_TRUE(reg::Parse(text, "f", &hive, &error)) << error;
    const std::string formatted = reg::Format(hive);
    EXPECT_NE(formatted.find("\"nul\"=hex(1):61,00,62,00\n"), std::string::npos) << formatted;
    ASSERT_TRUE(reg::Parse(formatted, "g", &again, &error)) << error << formatted;
    auto* a = hive.top.Find("HKEY_CURRENT_USER\\K");
    auto* b = again.top.Find("HKEY_CURRENT_USER\\K");
    ASSERT_TRUE(a && b);
    ASSERT_EQ(a->values.size(), 6u);
    EXPECT_EQ(a->values["quad"].type, 0xbu);
    EXPECT_EQ(a->values["sixteen"].type, 0x10u);
    for (const auto& [name, v] : a->values) {
        EXPECT_EQ(b->values[name].type, v.type) << name;
        EXPECT_EQ(b->values[name].data, v.data) << name;
    }
    EXPECT_FALSE(reg::Parse("Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\K]\n"
                            "\"v\"=hex(1)\n",
                            "f", &again, &error));
    EXPECT_EQ(error.rfind("f:3:", 0), 0u) << error;

    // An empty value copies nothing into a buffer.
    std::filesystem::create_directories(sub_);
    std::ofstream(path_, std::ios::binary) << text;
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_READ, &k), ERROR_SUCCESS);
    BYTE buffer[4] = {7, 7, 7, 7};
    DWORD type = 0, size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(k, "empty", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(buffer[0], 7);
    RegCloseKey(k);
}

TEST_F(RegistryFile, ScriptsForceRemoveNoRemoveAndMalformed) {
    const std::string script = R"(
HKCR
{
    NoRemove CLSID
    {
        ForceRemove {11111111-2222-3333-4444-555555555555} = s 'It''s a thing'
        {
            InprocServer32 = s '%MODULE%'
        }
    }
})";
    const std::string clsid = "CLSID\\{11111111-2222-3333-4444-555555555555}";
    RegCloseKey(Create(HKEY_CLASSES_ROOT, (clsid + "\\Stale").c_str()));
    RegCloseKey(Create(HKEY_CLASSES_ROOT, "CLSID\\Other"));

    ASSERT_EQ(velmora::com::ApplyRegistryScript(script, true, {{"MODULE", "/opt/x.so"}}), S_OK)
        << reg::LastError();
    std::string s;
    EXPECT_TRUE(reg::ReadString(HKEY_CLASSES_ROOT, clsid, "", &s));
    EXPECT_EQ(s, "It's a thing");
    EXPECT_TRUE(reg::ReadString(HKEY_CLASSES_ROOT, clsid + "\\InprocServer32", "", &s));
    EXPECT_EQ(s, "/opt/x.so");
    EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, clsid + "\\Stale")) << "ForceRemove replaces";

    ASSERT_EQ(velmora::com::ApplyRegistryScript(script, false, {{"MODULE", "/opt/x.so"}}), S_OK);
    EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, clsid));
    EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, "CLSID\\Other")) << "NoRemove keeps CLSID";

    const std::string before = Text();
    EXPECT_EQ(velmora::com::ApplyRegistryScript("HKCR { A = s 'x' { B = d 'nope' } }", true, {}),
              E_INVALIDARG);
    EXPECT_EQ(Text(), before) << "a bad script changes nothing";
}

TEST_F(RegistryFile, CategoriesWrittenAndRemoved) {
    velmora::com::ComPtr<ICatRegister> cats;
    ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                               uuidof<ICatRegister>(), reinterpret_cast<void**>(&cats)),
              S_OK);
    const CLSID clsid = velmora::com::MakeGuid("{11111111-2222-3333-4444-555555555555}");
    CATID ids[2] = {velmora::com::MakeGuid("{C501EDBE-9E70-11D1-9053-00C04FD9189D}"),
                    velmora::com::MakeGuid("{22222222-2222-3333-4444-555555555555}")};
    const std::string list =
        "CLSID\\{11111111-2222-3333-4444-555555555555}\\Implemented Categories";
    ASSERT_EQ(cats->RegisterClassImplCategories(clsid, 2, ids), S_OK);
    EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, list + "\\{C501EDBE-9E70-11D1-9053-00C04FD9189D}"));
    ASSERT_EQ(cats->UnRegisterClassImplCategories(clsid, 1, ids), S_OK);
    EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, list + "\\{22222222-2222-3333-4444-555555555555}"));
    ASSERT_EQ(cats->UnRegisterClassImplCategories(clsid, 1, ids + 1), S_OK);
    EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, list)) << "the list goes with its last entry";
}

// The file size limit stops the write of the temporary file at offsets across it, as a full disk
// would: the old file stays whole, the failure is reported, no temporary is left.
TEST_F(RegistryFile, WritesAreAtomicAndStaleTemporariesGo) {
    ASSERT_EQ(SetBlob("Software\\Old", std::vector<BYTE>(100, 0x11)), ERROR_SUCCESS);
    RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\New")); // so that setting is one write
    const std::string old = Text();
    const std::vector<BYTE> big(1500, 0xAB);
    reg::Hive hive; // what the new file holds
    std::string error;
    ASSERT_TRUE(reg::Parse(old, "f", &hive, &error));
    hive.top.Create("HKEY_CURRENT_USER\\Software\\New")->values["Blob"] =
        reg::Value{"Blob", REG_BINARY, big};
    const size_t size = reg::Format(hive).size();
    std::vector<size_t> limits{size - 1};
    for (size_t at = 0; at < size; at += velmora::test::Soak() ? 1 : size / 24)
        limits.push_back(at);
    for (size_t limit : limits) {
        const int code = InChild([&] {
            std::signal(SIGXFSZ, SIG_IGN); // write answers EFBIG instead of killing the process
            const rlimit r{limit, limit};
            if (::setrlimit(RLIMIT_FSIZE, &r) != 0)
                return 90;
            return SetBlob("Software\\New", big) == ERROR_WRITE_FAULT ? 0 : 91;
        });
        ASSERT_EQ(code, 0) << "file size limit " << limit;
        ASSERT_EQ(Text(), old) << "file size limit " << limit;
    }
    velmora::test::Figure("faults injected", static_cast<double>(limits.size()));
    // A writer that died leaves its temporary; the next write removes it.
    std::ofstream(path_ + ".tmp.999999.1") << "Windows Registry Editor Version 5.00\n\n[HKEY_CU";
    EXPECT_EQ(SetBlob("Software\\New", big), ERROR_SUCCESS);
    EXPECT_EQ(Text(), reg::Format(hive));
    for (const auto& e : std::filesystem::directory_iterator(sub_))
        EXPECT_EQ(e.path().filename().string().find(".tmp."), std::string::npos) << e.path();
}

// A replaced file keeps its permissions; one this process may not write is refused and left alone.
TEST_F(RegistryFile, PermissionsAreKeptAndRespected) {
    ASSERT_EQ(SetBlob("Software\\Old", {1, 2, 3}), ERROR_SUCCESS);
    ASSERT_EQ(::chmod(path_.c_str(), 0600), 0);
    ASSERT_EQ(SetBlob("Software\\New", {4, 5, 6}), ERROR_SUCCESS);
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const std::string old = Text();
    if (::geteuid() == 0) { // the child runs unprivileged, for whom permissions count
        for (const auto& p : {sub_, sub_ / "registry.reg.lock", std::filesystem::path(path_)})
            ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
    const int code = InChild([&] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            return 90;
        if (SetBlob("Software\\Other", {7}) != ERROR_ACCESS_DENIED)
            return 91;
        return reg::LastError().find("registry.reg") == std::string::npos ? 92 : 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Text(), old);
}
