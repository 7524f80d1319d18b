// The settings page in the system's property frame, as a Windows host shows it: the effect's pages
// handed to OleCreatePropertyFrame, the frame driven by real X input on the display (xdotool,
// which Wine runs for it as it runs Linux programs) and read back from the screen. Never linked to
// the module.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "api/velmora.h"
#include "tests/server/rig.h"
#include "tests/support/com.h"

#include <commctrl.h> // after the system's headers, which they need
#include <tlhelp32.h>

using velmora::com::ComPtr;
using velmora::test::Query;

namespace {

using Exchange = ISfExchangeProps<FilterProps>;
using Clock = std::chrono::steady_clock;

constexpr FilterProps kStart{255, 37, 201, 90};
constexpr FilterProps kBluePreset{255, 0, 0, 255};
constexpr int kBlueIndex = 2;

// Starts a Windows program.
HANDLE Start(std::string command) {
    STARTUPINFOA start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &start, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

// Waits for a started program; its exit code, or -1 if it did not end in time.
int Finish(HANDLE process, DWORD ms) {
    DWORD code = static_cast<DWORD>(-1);
    if (process && WaitForSingleObject(process, ms) == WAIT_OBJECT_0)
        GetExitCodeProcess(process, &code);
    if (process)
        CloseHandle(process);
    return static_cast<int>(code);
}

// Runs xdotool, the X display's input, to its end through Wine's own way of running a Linux
// program; true when it exits with 0.
bool XDo(std::vector<std::string> args) {
    using Spawn = LONG(CDECL*)(char* const* argv, int wait);
    static const auto spawn = reinterpret_cast<Spawn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "__wine_unix_spawnvp")));
    args.insert(args.begin(), "/usr/bin/xdotool");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return spawn && spawn(argv.data(), TRUE) == 0;
}

// A window's class, title and visibility, and its children's, for a failure's message.
std::string Describe(HWND w) {
    char name[64] = {}, text[64] = {};
    GetClassNameA(w, name, sizeof name);
    GetWindowTextA(w, text, sizeof text);
    std::string out = std::string(name) + "'" + text + "'" + (IsWindowVisible(w) ? "" : "(hidden)");
    std::string children;
    EnumChildWindows(
        w,
        [](HWND c, LPARAM s) -> BOOL {
            if (GetParent(c) == GetAncestor(c, GA_PARENT))
                *reinterpret_cast<std::string*>(s) += " " + Describe(c);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&children));
    return children.empty() ? out : out + "[" + children + " ]";
}

// The first visible window inside frame whose class begins with kind and, if given, whose text
// is text.
HWND Inside(HWND frame, const std::string& kind, const char* text = nullptr) {
    struct Search {
        const std::string& kind;
        const char* text;
        HWND found;
    } search{kind, text, nullptr};
    EnumChildWindows(
        frame,
        [](HWND w, LPARAM out) -> BOOL {
            auto* s = reinterpret_cast<Search*>(out);
            char name[64] = {}, label[64] = {};
            GetClassNameA(w, name, sizeof name);
            GetWindowTextA(w, label, sizeof label);
            if (std::string(name).rfind(s->kind, 0) != 0 || !IsWindowVisible(w) ||
                (s->text && std::string(label) != s->text))
                return TRUE;
            s->found = w;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The page's panel: the framework's own window inside the frame.
HWND FindPanel(HWND frame) {
    return Inside(frame, "JUCE_");
}

POINT Centre(HWND w) {
    RECT r{};
    GetWindowRect(w, &r);
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

void ClickAt(POINT p) {
    XDo({"mousemove", "--sync", std::to_string(p.x), std::to_string(p.y), "click", "1"});
}

// A key pressed in the frame, as the user does: the frame's window is given the display's input
// focus (there is no window manager to do it on a click), the panel the frame's own focus by a
// click on its background, beside the colour selector.
void KeyInPanel(HWND frame, const char* key) {
    char title[128] = {};
    GetWindowTextA(frame, title, sizeof title);
    XDo({"search", "--name", std::string("^") + title + "$", "windowfocus", "--sync"});
    RECT panel{};
    GetWindowRect(FindPanel(frame), &panel);
    ClickAt({panel.left + 240, panel.top + 200});
    XDo({"key", key});
}

// The top-level windows of a process.
std::set<HWND> WindowsOf(DWORD process = GetCurrentProcessId()) {
    struct Search {
        DWORD process;
        std::set<HWND> found;
    } search{process, {}};
    EnumWindows(
        [](HWND w, LPARAM out) -> BOOL {
            auto* s = reinterpret_cast<Search*>(out);
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (pid == s->process)
                s->found.insert(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Threads of this process that the module's code started: they begin in the module or, when
// started through the C runtime (as the framework and the standard library start theirs), in
// the runtime. The system and the test framework keep threads of their own.
int ThreadsOfTheModule() {
    using QueryThread = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    constexpr int kStartAddress = 9; // ThreadQuerySetWin32StartAddress
    const auto query = reinterpret_cast<QueryThread>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
    const HMODULE module = GetModuleHandleA(VELMORA_MODULE_PATH);
    const HMODULE runtime = GetModuleHandleA("msvcrt.dll");
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 t{};
    t.dwSize = sizeof t;
    int count = 0;
    for (BOOL more = Thread32First(snap, &t); more; more = Thread32Next(snap, &t)) {
        if (t.th32OwnerProcessID != GetCurrentProcessId() || !module)
            continue;
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, t.th32ThreadID);
        void* start = nullptr;
        HMODULE from = nullptr;
        if (thread && query(thread, kStartAddress, &start, sizeof start, nullptr) == 0 &&
            GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                   GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               static_cast<LPCSTR>(start), &from))
            count += from == module || from == runtime;
        if (thread)
            CloseHandle(thread);
    }
    CloseHandle(snap);
    return count;
}

// What the display shows inside a window, read from the screen as a user sees it.
struct Shot {
    RECT at{};
    std::vector<COLORREF> pixels;
    int Count(FilterProps c) const {
        int n = 0;
        for (COLORREF p : pixels)
            n += p == RGB(c.red, c.green, c.blue);
        return n;
    }
    std::set<COLORREF> Colours(RECT r) const {
        std::set<COLORREF> seen;
        const LONG w = at.right - at.left;
        for (LONG y = r.top; y < r.bottom; ++y)
            for (LONG x = r.left; x < r.right; ++x)
                seen.insert(pixels[y * w + x]);
        return seen;
    }
};

Shot Capture(HWND window) {
    Shot shot;
    GetWindowRect(window, &shot.at);
    const int w = shot.at.right - shot.at.left, h = shot.at.bottom - shot.at.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, shot.at.left, shot.at.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<DWORD> bgra(static_cast<size_t>(w) * h);
    GetDIBits(memory, bitmap, 0, h, bgra.data(), &info, DIB_RGB_COLORS);
    for (DWORD p : bgra)
        shot.pixels.push_back(RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF));
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return shot;
}

// Polls until ready answers true or the time is up; the display and the frame's thread move at
// their own pace.
bool Within(int seconds, const std::function<bool()>& ready) {
    const auto until = Clock::now() + std::chrono::seconds(seconds);
    while (!ready()) {
        if (Clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

class PropertyFrame : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(XDo({"version"}))
            << "the tests give their input through xdotool (scripts/install-deps.sh installs it)";
        ASSERT_EQ(Module().Register(), S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_Velmora, nullptr, CLSCTX_INPROC_SERVER, uuidof<IUnknown>(),
                                   reinterpret_cast<void**>(&effect)),
                  S_OK);
        FilterProps start = kStart;
        ASSERT_EQ(Query<Exchange>(effect.Get())->SetProps(&start), S_OK);
    }

    FilterProps Props() const {
        FilterProps p{};
        Query<Exchange>(effect.Get())->GetProps(&p);
        return p;
    }

    // The frame that shows the page in a process, once it does.
    static bool WaitForFrame(DWORD process, const std::set<HWND>& before, HWND* frame,
                             HWND* panel) {
        return Within(30, [&] {
            for (HWND w : WindowsOf(process))
                if (!before.count(w) && IsWindowVisible(w) && (*panel = FindPanel(w)) != nullptr)
                    return (*frame = w) != nullptr;
            return false;
        });
    }

    // Shows the effect's pages in the system's frame on this thread, as a host does, while
    // drive works the frame from another thread and ends it. Checks that the frame leaves no
    // window and no thread behind.
    void Show(const std::function<void(HWND frame, HWND panel)>& drive, const char* way = "") {
        const std::set<HWND> windowsBefore = WindowsOf();
        ASSERT_EQ(ThreadsOfTheModule(), 0);
        CAUUID pages{};
        ASSERT_EQ(Query<ISpecifyPropertyPages>(effect.Get())->GetPages(&pages), S_OK);
        ASSERT_EQ(pages.cElems, 1u);
        EXPECT_EQ(pages.pElems[0], CLSID_VelmoraPP);

        std::thread driver([&] {
            SCOPED_TRACE(way);
            HWND frame = nullptr, panel = nullptr;
            const bool shown = WaitForFrame(GetCurrentProcessId(), windowsBefore, &frame, &panel);
            if (!shown) {
                std::string seen;
                for (HWND w : WindowsOf())
                    if (!windowsBefore.count(w)) {
                        seen += " " + Describe(w);
                        PostMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0);
                    }
                ADD_FAILURE() << "the frame never showed the page; new windows:" << seen;
                return;
            }
            // The panel's framework runs threads of its own while the frame is up.
            EXPECT_GT(ThreadsOfTheModule(), 0);
            drive(frame, panel);
            if (!Within(15, [&] { return !IsWindow(frame); })) {
                ADD_FAILURE() << "the frame did not end: " << Describe(frame);
                PostMessageA(frame, WM_SYSCOMMAND, SC_CLOSE, 0);
            }
        });
        IUnknown* objects[] = {effect.Get()};
        EXPECT_EQ(OleCreatePropertyFrame(nullptr, 40, 40, L"Velmora", 1, objects, pages.cElems,
                                         pages.pElems, 0, 0, nullptr),
                  S_OK);
        driver.join();
        CoTaskMemFree(pages.pElems);

        EXPECT_TRUE(Within(10, [&] { return WindowsOf() == windowsBefore; }))
            << WindowsOf().size() << " windows, " << windowsBefore.size() << " before";
        EXPECT_TRUE(Within(10, [&] { return ThreadsOfTheModule() == 0; }))
            << ThreadsOfTheModule() << " threads of the module left";
    }

    ComPtr<IUnknown> effect;
};

} // namespace

TEST_F(PropertyFrame, ShowsThePageTakesClicksAndNoticesAndOkKeepsTheRecord) {
    Show([&](HWND frame, HWND panel) {
        // The page shows the effect's colour in its preview box, below the banner, beside a
        // colour square of many shades and the hue strip.
        Shot shot;
        EXPECT_TRUE(Within(10, [&] { return (shot = Capture(panel)).Count(kStart) > 1000; }))
            << shot.Count(kStart) << " pixels of the effect's colour";
        EXPECT_GT(shot.Colours({0, 0, 200, 22}).size(), 8u) << "no banner";
        EXPECT_GT(shot.Colours({0, 23, 170, 200}).size(), 2000u) << "no colour square";
        EXPECT_GT(shot.Colours({176, 40, 194, 160}).size(), 100u) << "no hue strip";
        // The page's title, from the module's string table, names its tab.
        char tab[64] = {};
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = tab;
        item.cchTextMax = sizeof tab;
        SendMessageA(Inside(frame, "SysTabControl32"), TCM_GETITEMA, 0,
                     reinterpret_cast<LPARAM>(&item));
        EXPECT_STREQ(tab, "Velmora");

        // A click high and to the right in the colour square writes to the effect at once.
        const POINT square{shot.at.left + 150, shot.at.top + 80};
        EXPECT_TRUE(Within(20, [&] {
            ClickAt(square);
            return Props() != kStart;
        })) << "a click in the colour square never reached the effect";
        const FilterProps picked = Props();
        EXPECT_GT(picked.red + picked.green + picked.blue, 200);

        // A preset applied on this thread reaches the panel through the effect's notice.
        EXPECT_EQ(Query<IStaticFilterPreset>(effect.Get())->ApplyPreset(kBlueIndex), S_OK);
        EXPECT_TRUE(Within(10, [&] { return Capture(panel).Count(kBluePreset) > 1000; }))
            << "the panel never showed the preset";

        ClickAt(Centre(Inside(frame, "Button", "OK")));
    });
    EXPECT_EQ(Props(), kBluePreset);
}

// The eyedropper reads the system's screen where the user clicks, through its own window over
// the whole display.
TEST_F(PropertyFrame, TheEyedropperPicksFromTheScreen) {
    Show([&](HWND frame, HWND panel) {
        const std::set<HWND> before = WindowsOf();
        RECT r{};
        GetWindowRect(panel, &r);
        HWND dropper = nullptr;
        EXPECT_TRUE(Within(20, [&] {
            ClickAt({r.left + 148, r.top + 189}); // the eyedropper button beside the preview
            return Within(2, [&] {
                for (HWND w : WindowsOf())
                    if (!before.count(w) && IsWindowVisible(w))
                        return (dropper = w) != nullptr;
                return false;
            });
        })) << "the eyedropper never opened";
        // Far from the frame, where the display shows only its background and the eyedropper.
        const POINT spot{r.right + 200, r.top + 150};
        XDo({"mousemove", "--sync", std::to_string(spot.x), std::to_string(spot.y)});
        HDC screen = GetDC(nullptr);
        const COLORREF seen = GetPixel(screen, spot.x, spot.y);
        ReleaseDC(nullptr, screen);
        // Pressed and released apart, as a hand does: a release at once after the press is lost.
        XDo({"mousedown", "1"});
        Sleep(300);
        XDo({"mouseup", "1"});
        EXPECT_TRUE(Within(10, [&] { return !IsWindow(dropper); }));
        EXPECT_EQ(Props(), (FilterProps{255, GetRValue(seen), GetGValue(seen), GetBValue(seen)}));
        ClickAt(Centre(Inside(frame, "Button", "OK")));
    });
}

TEST_F(PropertyFrame, CancelEscapeAndClosingEndItCleanly) {
    const std::vector<std::pair<const char*, std::function<void(HWND)>>> ways = {
        {"Cancel", [](HWND frame) { ClickAt(Centre(Inside(frame, "Button", "Cancel"))); }},
        {"Escape", [](HWND frame) { KeyInPanel(frame, "Escape"); }},
        {"Enter", [](HWND frame) { KeyInPanel(frame, "Return"); }},
        {"close", [](HWND frame) { PostMessageA(frame, WM_SYSCOMMAND, SC_CLOSE, 0); }},
    };
    for (const auto& [name, end] : ways) {
        SCOPED_TRACE(name);
        Show([&](HWND frame, HWND) { end(frame); }, name);
    }
}

// velmora.exe settings FILE: the system's frame in the program; OK (Enter) saves the edited
// colour to FILE, Cancel saves nothing.
TEST_F(PropertyFrame, TheProgramSavesOnOkOnly) {
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::filesystem::path folder = std::filesystem::path(std::wstring(self, n)).parent_path();
    const std::filesystem::path file = folder / "windows-page-test.bin";
    for (const bool ok : {false, true}) {
        SCOPED_TRACE(ok ? "OK" : "Cancel");
        std::filesystem::remove(file);
        HANDLE program = Start("\"" + (folder / "velmora.exe").string() + "\" settings \"" +
                               file.string() + "\"");
        ASSERT_TRUE(program);
        HWND frame = nullptr, panel = nullptr;
        if (WaitForFrame(GetProcessId(program), {}, &frame, &panel)) {
            RECT r{};
            GetWindowRect(panel, &r);
            ClickAt({r.left + 150, r.top + 80}); // high and right in the colour square
            if (ok)
                KeyInPanel(frame, "Return");
            else
                ClickAt(Centre(Inside(frame, "Button", "Cancel")));
        } else {
            ADD_FAILURE() << "the program never showed the page";
        }
        EXPECT_EQ(Finish(program, 30000), 0);
        EXPECT_EQ(std::filesystem::exists(file), ok);
        if (ok) {
            std::ifstream in(file, std::ios::binary);
            const std::string record((std::istreambuf_iterator<char>(in)), {});
            ASSERT_EQ(record.size(), 4u);
            const auto byte = [&](int i) { return static_cast<unsigned char>(record[i]); };
            EXPECT_EQ(byte(0), 0xFF);
            // The effect starts black; the click picked a bright colour.
            EXPECT_GT(byte(1) + byte(2) + byte(3), 100) << "the edit was not saved";
        }
    }
    std::filesystem::remove(file);
}
