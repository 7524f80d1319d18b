#include "compound_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-utils.h>

#include "memory.h"
#include "unknown.h"

namespace velmora::com {
namespace {

thread_local std::string t_error;

HRESULT Fail(HRESULT hr, std::string message) {
    t_error = std::move(message);
    return hr;
}

// What libgsf said about the file being read on this thread (its first complaint). libgsf reports
// damage through GLib's log as it meets it, on stderr by default; that would break the one-line
// errors of the programs that read settings files, so its messages come here instead and the
// first one goes into the error of a load that fails.
thread_local std::string t_gsfComplaint;

void OnGsfMessage(const gchar*, GLogLevelFlags, const gchar* message, gpointer) {
    if (t_gsfComplaint.empty() && message) {
        std::string first = message;
        first = first.substr(0, first.find('\n'));
        t_gsfComplaint = first.empty() ? "unknown problem" : first;
    }
}

void InitOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        gsf_init();
        const auto levels =
            static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION);
        for (const char* domain : {"libgsf", "libgsf:msole", "libgsf:utils"})
            g_log_set_handler(domain, levels, OnGsfMessage, nullptr);
    });
}

// Releases a GObject when it goes out of scope.
template <class T>
struct GRef {
    T* p = nullptr;
    GRef() = default;
    explicit GRef(T* q) : p(q) {}
    GRef(const GRef&) = delete;
    GRef& operator=(const GRef&) = delete;
    ~GRef() {
        if (p)
            g_object_unref(p);
    }
};

std::string ToUtf8(const std::wstring& name) {
    gchar* s = g_ucs4_to_utf8(reinterpret_cast<const gunichar*>(name.c_str()),
                              static_cast<glong>(name.size()), nullptr, nullptr, nullptr);
    std::string out = s ? s : "";
    g_free(s);
    return out;
}

std::wstring FromUtf8(const char* name) {
    glong n = 0;
    gunichar* s = g_utf8_to_ucs4(name, -1, nullptr, &n, nullptr);
    std::wstring out = s ? std::wstring(reinterpret_cast<const wchar_t*>(s), n) : L"";
    g_free(s);
    return out;
}

std::string ErrorText(GError* err) {
    std::string s = err && err->message ? err->message : "unknown error";
    if (err)
        g_error_free(err);
    return s;
}

constexpr DWORD kRead = STGM_READ | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kCreate = STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE;

// --- Memory storage to compound file

HRESULT WriteStream(IStorage* from, const std::wstring& name, GsfOutput* to) {
    ComPtr<IStream> stream;
    HRESULT hr = from->OpenStream(name.c_str(), nullptr, kRead, 0, &stream);
    if (FAILED(hr))
        return hr;
    std::vector<BYTE> buffer(64 * 1024);
    for (;;) {
        ULONG got = 0;
        hr = stream->Read(buffer.data(), static_cast<ULONG>(buffer.size()), &got);
        if (FAILED(hr))
            return hr;
        if (got == 0)
            return S_OK;
        if (!gsf_output_write(to, got, buffer.data()))
            return STG_E_WRITEFAULT;
    }
}

HRESULT WriteStorage(IStorage* from, GsfOutfile* to) {
    STATSTG self{};
    HRESULT hr = from->Stat(&self, STATFLAG_NONAME);
    if (FAILED(hr))
        return hr;
    static_assert(sizeof(CLSID) == 16);
    // The class id goes to disk in its in-memory (little-endian) layout, as Windows writes it.
    gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(to),
                                   reinterpret_cast<const guint8*>(&self.clsid));

    ComPtr<IEnumSTATSTG> elements;
    hr = from->EnumElements(0, nullptr, 0, &elements);
    if (FAILED(hr))
        return hr;
    STATSTG st{};
    while (elements->Next(1, &st, nullptr) == S_OK) {
        std::wstring name = st.pwcsName ? st.pwcsName : L"";
        CoTaskMemFree(st.pwcsName);
        const bool isStorage = st.type == STGTY_STORAGE;
        GRef<GsfOutput> child(gsf_outfile_new_child(to, ToUtf8(name).c_str(), isStorage));
        if (!child.p)
            return STG_E_WRITEFAULT;
        if (isStorage) {
            ComPtr<IStorage> sub;
            hr = from->OpenStorage(name.c_str(), nullptr, kRead, nullptr, 0, &sub);
            if (SUCCEEDED(hr))
                hr = WriteStorage(sub.Get(), GSF_OUTFILE(child.p));
        } else {
            hr = WriteStream(from, name, child.p);
        }
        if (!gsf_output_close(child.p) && SUCCEEDED(hr))
            hr = STG_E_WRITEFAULT;
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

// Temporary file beside the target, fsync, rename, fsync of the folder.
HRESULT WriteFileAtomically(const std::string& path, const guint8* data, size_t size) {
    std::string tmp = path + ".XXXXXX";
    int fd = ::mkstemp(tmp.data());
    if (fd < 0)
        return Fail(errno == ENOENT ? STG_E_PATHNOTFOUND : STG_E_ACCESSDENIED,
                    path + ": cannot create: " + std::strerror(errno));
    ::fchmod(fd, 0644);
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            int e = errno;
            ::close(fd);
            ::unlink(tmp.c_str());
            return Fail(e == ENOSPC ? STG_E_MEDIUMFULL : STG_E_WRITEFAULT,
                        path + ": cannot write: " + std::strerror(e));
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(tmp.c_str(), path.c_str()) != 0) {
        int e = errno;
        ::unlink(tmp.c_str());
        return Fail(STG_E_WRITEFAULT, path + ": cannot write: " + std::strerror(e));
    }
    std::string dir = std::filesystem::path(path).parent_path().string();
    int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return S_OK;
}

// --- Compound file to memory storage

HRESULT ReadInto(GsfInfile* from, IStorage* to) {
    guint8 clsid[16];
    if (GSF_IS_INFILE_MSOLE(from) && gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(from), clsid)) {
        CLSID id;
        std::memcpy(&id, clsid, sizeof id);
        HRESULT hr = to->SetClass(id);
        if (FAILED(hr))
            return hr;
    }
    const int count = gsf_infile_num_children(from);
    for (int i = 0; i < count; ++i) {
        const char* name = gsf_infile_name_by_index(from, i);
        GRef<GsfInput> child(gsf_infile_child_by_index(from, i));
        if (!name || !child.p)
            return STG_E_READFAULT;
        std::wstring wide = FromUtf8(name);
        HRESULT hr;
        if (GSF_IS_INFILE(child.p) && gsf_infile_num_children(GSF_INFILE(child.p)) >= 0) {
            ComPtr<IStorage> sub;
            hr = to->CreateStorage(wide.c_str(), kCreate, 0, 0, &sub);
            if (SUCCEEDED(hr))
                hr = ReadInto(GSF_INFILE(child.p), sub.Get());
        } else {
            ComPtr<IStream> stream;
            hr = to->CreateStream(wide.c_str(), kCreate, 0, 0, &stream);
            gsf_off_t left = gsf_input_size(child.p);
            while (SUCCEEDED(hr) && left > 0) {
                size_t n = static_cast<size_t>(std::min<gsf_off_t>(left, 64 * 1024));
                const guint8* bytes = gsf_input_read(child.p, n, nullptr);
                if (!bytes)
                    return STG_E_READFAULT;
                ULONG written = 0;
                hr = stream->Write(bytes, static_cast<ULONG>(n), &written);
                left -= static_cast<gsf_off_t>(n);
            }
        }
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

} // namespace

HRESULT LoadCompoundFile(const char* path, IStorage** storage) {
    t_error.clear();
    if (!path || !storage)
        return Fail(E_POINTER, "no file or storage given");
    *storage = nullptr;
    InitOnce();

    std::ifstream in(path, std::ios::binary);
    if (!in) {
        int e = errno;
        return Fail(e == ENOENT ? STG_E_FILENOTFOUND : STG_E_ACCESSDENIED,
                    std::string(path) + ": " + std::strerror(e));
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return Fail(STG_E_READFAULT, std::string(path) + ": cannot read");

    t_gsfComplaint.clear();
    GRef<GsfInput> source(gsf_input_memory_new(reinterpret_cast<const guint8*>(bytes.data()),
                                               static_cast<gsf_off_t>(bytes.size()), FALSE));
    GError* err = nullptr;
    GRef<GsfInfile> file(gsf_infile_msole_new(source.p, &err));
    if (!file.p)
        return Fail(STG_E_INVALIDHEADER,
                    std::string(path) + ": not a compound file (" + ErrorText(err) + ")");

    ComPtr<IStorage> root;
    HRESULT hr = CreateMemoryStorage(&root);
    if (SUCCEEDED(hr))
        hr = ReadInto(file.p, root.Get());
    if (FAILED(hr))
        return Fail(hr, std::string(path) + ": damaged compound file" +
                            (t_gsfComplaint.empty() ? "" : " (" + t_gsfComplaint + ")"));
    *storage = root.Detach();
    return S_OK;
}

HRESULT SaveCompoundFile(IStorage* storage, const char* path) {
    t_error.clear();
    if (!path || !storage)
        return Fail(E_POINTER, "no file or storage given");
    InitOnce();

    GRef<GsfOutput> sink(gsf_output_memory_new());
    HRESULT hr;
    {
        GRef<GsfOutfile> file(gsf_outfile_msole_new(sink.p));
        if (!file.p)
            return Fail(E_OUTOFMEMORY, std::string(path) + ": cannot start a compound file");
        hr = WriteStorage(storage, file.p);
        if (!gsf_output_close(GSF_OUTPUT(file.p)) && SUCCEEDED(hr))
            hr = STG_E_WRITEFAULT;
    }
    if (FAILED(hr))
        return Fail(hr, std::string(path) + ": the storage could not be written out");
    const gsf_off_t size = gsf_output_size(sink.p);
    const guint8* data = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(sink.p));
    if (!data || size <= 0)
        return Fail(STG_E_WRITEFAULT, std::string(path) + ": empty compound file");
    return WriteFileAtomically(path, data, static_cast<size_t>(size));
}

std::string CompoundFileError() {
    return t_error;
}

} // namespace velmora::com
