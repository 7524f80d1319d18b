#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/com/comcat.h"
#include "platform/com/activation.h"
#include "platform/com/registrar.h"
#include "platform/com/registry_store.h"

namespace reg = velmora::registry;

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
