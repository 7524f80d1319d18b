// An in-memory storage in direct mode, with the element rules of compound files: names of at most
// 31 characters compared without case, elements opened share-exclusive and at most once, access
// no wider than the parent's.
#include <algorithm>
#include <cwctype>

#include "memory.h"
#include "object.h"
#include "stream_buffer.h"

namespace velmora::com {
namespace {

struct StorageNode;

struct Element {
    DWORD type;
    std::shared_ptr<StreamBuffer> stream;
    std::shared_ptr<StorageNode> storage;
    const std::wstring& Name() const;
};

struct StorageNode {
    std::wstring name;
    std::vector<Element> children;
    CLSID clsid{};
    DWORD stateBits = 0;
    FILETIME ctime{}, atime{}, mtime{};
    int openCount = 0;
    bool reverted = false;
};

const std::wstring& Element::Name() const {
    return stream ? stream->name : storage->name;
}

// One lock for a whole tree of storages.
struct Tree {
    std::recursive_mutex mutex;
};

constexpr DWORD kAccessMask = 0x3;
constexpr DWORD kShareMask = 0x70;

bool SameName(const std::wstring& a, const OLECHAR* b) {
    size_t n = a.size();
    for (size_t i = 0; i < n; ++i)
        if (b[i] == 0 || std::towupper(a[i]) != std::towupper(b[i]))
            return false;
    return b[n] == 0;
}

HRESULT CheckName(const OLECHAR* name) {
    if (!name)
        return STG_E_INVALIDPOINTER;
    size_t n = 0;
    for (; name[n]; ++n)
        if (name[n] == L'\\' || name[n] == L'/' || name[n] == L':' || name[n] == L'!')
            return STG_E_INVALIDNAME;
    return n == 0 || n > 31 ? STG_E_INVALIDNAME : S_OK;
}

void MarkReverted(Element& e) {
    if (e.stream) {
        std::lock_guard lock(e.stream->mutex);
        e.stream->reverted = true;
        return;
    }
    e.storage->reverted = true;
    for (auto& child : e.storage->children)
        MarkReverted(child);
}

bool IsOpen(const Element& e) {
    if (e.stream) {
        std::lock_guard lock(e.stream->mutex);
        return e.stream->openCount > 0;
    }
    return e.storage->openCount > 0;
}

class MemoryStorage final : public SimpleObject<MemoryStorage, IStorage> {
public:
    MemoryStorage(std::shared_ptr<Tree> tree, std::shared_ptr<StorageNode> node, DWORD mode)
        : tree_(std::move(tree)), node_(std::move(node)), mode_(mode) {
        std::lock_guard lock(tree_->mutex);
        ++node_->openCount;
    }

    STDMETHOD(CreateStream)
    (const OLECHAR* name, DWORD mode, DWORD r1, DWORD r2, IStream** out) override {
        if (!out)
            return STG_E_INVALIDPOINTER;
        *out = nullptr;
        std::lock_guard lock(tree_->mutex);
        HRESULT hr = CheckCreate(name, mode, r1 || r2);
        if (FAILED(hr))
            return hr;
        auto buffer = std::make_shared<StreamBuffer>();
        buffer->name = name;
        buffer->ctime = buffer->mtime = buffer->atime = CurrentFileTime();
        hr = Replace(name, mode, Element{STGTY_STREAM, buffer, nullptr});
        if (FAILED(hr))
            return hr;
        return CreateStreamOnBuffer(std::move(buffer), mode, true, out);
    }

    STDMETHOD(OpenStream)
    (const OLECHAR* name, void* r1, DWORD mode, DWORD r2, IStream** out) override {
        if (!out)
            return STG_E_INVALIDPOINTER;
        *out = nullptr;
        std::lock_guard lock(tree_->mutex);
        Element* e = nullptr;
        HRESULT hr = CheckOpen(name, mode, r1 || r2, STGTY_STREAM, &e);
        if (FAILED(hr))
            return hr;
        return CreateStreamOnBuffer(e->stream, mode, true, out);
    }

    STDMETHOD(CreateStorage)
    (const OLECHAR* name, DWORD mode, DWORD r1, DWORD r2, IStorage** out) override {
        if (!out)
            return STG_E_INVALIDPOINTER;
        *out = nullptr;
        std::lock_guard lock(tree_->mutex);
        HRESULT hr = CheckCreate(name, mode, r1 || r2);
        if (FAILED(hr))
            return hr;
        auto node = std::make_shared<StorageNode>();
        node->name = name;
        node->ctime = node->mtime = node->atime = CurrentFileTime();
        hr = Replace(name, mode, Element{STGTY_STORAGE, nullptr, node});
        if (FAILED(hr))
            return hr;
        *out = new MemoryStorage(tree_, std::move(node), mode);
        return S_OK;
    }

    STDMETHOD(OpenStorage)
    (const OLECHAR* name, IStorage* priority, DWORD mode, SNB exclude, DWORD reserved,
     IStorage** out) override {
        if (!out)
            return STG_E_INVALIDPOINTER;
        *out = nullptr;
        if (priority || exclude)
            return STG_E_INVALIDFUNCTION; // priority mode is not offered
        std::lock_guard lock(tree_->mutex);
        Element* e = nullptr;
        HRESULT hr = CheckOpen(name, mode, reserved != 0, STGTY_STORAGE, &e);
        if (FAILED(hr))
            return hr;
        *out = new MemoryStorage(tree_, e->storage, mode);
        return S_OK;
    }

    STDMETHOD(CopyTo)
    (DWORD ciidExclude, const IID* rgiidExclude, SNB snbExclude, IStorage* dest) override {
        if (!dest)
            return STG_E_INVALIDPOINTER;
        if (ciidExclude && !rgiidExclude)
            return STG_E_INVALIDPOINTER;
        if (static_cast<IStorage*>(this) == dest)
            return STG_E_ACCESSDENIED;
        bool noStreams = false, noStorages = false;
        for (DWORD i = 0; i < ciidExclude; ++i) {
            noStreams |= rgiidExclude[i] == uuidof<IStream>();
            noStorages |= rgiidExclude[i] == uuidof<IStorage>();
        }
        std::lock_guard lock(tree_->mutex);
        if (node_->reverted)
            return STG_E_REVERTED;
        HRESULT hr = dest->SetClass(node_->clsid);
        if (FAILED(hr))
            return hr;
        for (const auto& child : node_->children) {
            if (Excluded(child.Name(), snbExclude))
                continue;
            if ((child.stream && noStreams) || (child.storage && noStorages))
                continue;
            hr = CopyElement(child, dest, child.Name().c_str());
            if (FAILED(hr))
                return hr;
        }
        return S_OK;
    }

    STDMETHOD(MoveElementTo)
    (const OLECHAR* name, IStorage* dest, const OLECHAR* newName, DWORD flags) override {
        if (!dest)
            return STG_E_INVALIDPOINTER;
        if (flags != STGMOVE_MOVE && flags != STGMOVE_COPY)
            return STG_E_INVALIDFLAG;
        HRESULT hr = CheckName(newName);
        if (FAILED(hr))
            return hr;
        std::lock_guard lock(tree_->mutex);
        auto it = Find(name);
        if (it == node_->children.end())
            return name ? STG_E_FILENOTFOUND : STG_E_INVALIDPOINTER;
        if (flags == STGMOVE_MOVE && !Writable())
            return STG_E_ACCESSDENIED;
        Element moved = *it; // keeps the data alive while the copy runs
        hr = CopyElement(moved, dest, newName);
        if (FAILED(hr) || flags == STGMOVE_COPY)
            return hr;
        return DestroyElement(name);
    }

    STDMETHOD(Commit)(DWORD) override { return node_->reverted ? STG_E_REVERTED : S_OK; }
    STDMETHOD(Revert)() override { return node_->reverted ? STG_E_REVERTED : S_OK; }

    STDMETHOD(EnumElements)(DWORD r1, void* r2, DWORD r3, IEnumSTATSTG** out) override;

    STDMETHOD(DestroyElement)(const OLECHAR* name) override {
        if (!name)
            return STG_E_INVALIDPOINTER;
        std::lock_guard lock(tree_->mutex);
        if (node_->reverted)
            return STG_E_REVERTED;
        if (!Writable())
            return STG_E_ACCESSDENIED;
        auto it = Find(name);
        if (it == node_->children.end())
            return STG_E_FILENOTFOUND;
        MarkReverted(*it); // open streams and storages of it answer STG_E_REVERTED from now on
        node_->children.erase(it);
        node_->mtime = CurrentFileTime();
        return S_OK;
    }

    STDMETHOD(RenameElement)(const OLECHAR* oldName, const OLECHAR* newName) override {
        HRESULT hr = CheckName(newName);
        if (FAILED(hr) || !oldName)
            return FAILED(hr) ? hr : STG_E_INVALIDPOINTER;
        std::lock_guard lock(tree_->mutex);
        if (node_->reverted)
            return STG_E_REVERTED;
        if (!Writable())
            return STG_E_ACCESSDENIED;
        auto it = Find(oldName);
        if (it == node_->children.end())
            return STG_E_FILENOTFOUND;
        auto other = Find(newName);
        if (other != node_->children.end() && other != it)
            return STG_E_ACCESSDENIED;
        if (IsOpen(*it))
            return STG_E_ACCESSDENIED;
        if (it->stream) {
            std::lock_guard slock(it->stream->mutex);
            it->stream->name = newName;
        } else {
            it->storage->name = newName;
        }
        return S_OK;
    }

    STDMETHOD(SetElementTimes)
    (const OLECHAR* name, const FILETIME* c, const FILETIME* a, const FILETIME* m) override {
        std::lock_guard lock(tree_->mutex);
        if (node_->reverted)
            return STG_E_REVERTED;
        if (!Writable())
            return STG_E_ACCESSDENIED;
        FILETIME *pc, *pa, *pm;
        std::unique_lock<std::mutex> slock;
        if (!name) { // the storage itself
            pc = &node_->ctime, pa = &node_->atime, pm = &node_->mtime;
        } else {
            auto it = Find(name);
            if (it == node_->children.end())
                return STG_E_FILENOTFOUND;
            if (it->stream) {
                slock = std::unique_lock(it->stream->mutex);
                pc = &it->stream->ctime, pa = &it->stream->atime, pm = &it->stream->mtime;
            } else {
                pc = &it->storage->ctime, pa = &it->storage->atime, pm = &it->storage->mtime;
            }
        }
        if (c)
            *pc = *c;
        if (a)
            *pa = *a;
        if (m)
            *pm = *m;
        return S_OK;
    }

    STDMETHOD(SetClass)(REFCLSID clsid) override {
        std::lock_guard lock(tree_->mutex);
        if (node_->reverted)
            return STG_E_REVERTED;
        if (!Writable())
            return STG_E_ACCESSDENIED;
        node_->clsid = clsid;
        return S_OK;
    }

    STDMETHOD(SetStateBits)(DWORD bits, DWORD mask) override {
        std::lock_guard lock(tree_->mutex);
        if (node_->reverted)
            return STG_E_REVERTED;
        if (!Writable())
            return STG_E_ACCESSDENIED;
        node_->stateBits = (node_->stateBits & ~mask) | (bits & mask);
        return S_OK;
    }

    STDMETHOD(Stat)(STATSTG* st, DWORD flag) override {
        if (!st)
            return STG_E_INVALIDPOINTER;
        std::lock_guard lock(tree_->mutex);
        if (node_->reverted)
            return STG_E_REVERTED;
        Element self{STGTY_STORAGE, nullptr, node_};
        HRESULT hr = StatOf(self, flag, st);
        st->grfMode = mode_;
        return hr;
    }

    static HRESULT StatOf(const Element& e, DWORD flag, STATSTG* st) {
        *st = {};
        st->type = e.type;
        if (e.stream) {
            std::lock_guard lock(e.stream->mutex);
            st->cbSize.QuadPart = e.stream->bytes.size();
            st->ctime = e.stream->ctime, st->atime = e.stream->atime, st->mtime = e.stream->mtime;
        } else {
            st->clsid = e.storage->clsid;
            st->grfStateBits = e.storage->stateBits;
            st->ctime = e.storage->ctime, st->atime = e.storage->atime,
            st->mtime = e.storage->mtime;
        }
        if (!(flag & STATFLAG_NONAME) && !e.Name().empty()) {
            st->pwcsName = TaskStrDup(e.Name());
            if (!st->pwcsName)
                return STG_E_INSUFFICIENTMEMORY;
        }
        return S_OK;
    }

private:
    friend class SimpleObject<MemoryStorage, IStorage>;
    ~MemoryStorage() override {
        std::lock_guard lock(tree_->mutex);
        --node_->openCount;
    }

    bool Writable() const { return (mode_ & kAccessMask) != STGM_READ; }

    std::vector<Element>::iterator Find(const OLECHAR* name) {
        if (!name)
            return node_->children.end();
        return std::find_if(node_->children.begin(), node_->children.end(),
                            [&](const Element& e) { return SameName(e.Name(), name); });
    }

    static bool Excluded(const std::wstring& name, SNB snb) {
        for (; snb && *snb; ++snb)
            if (SameName(name, *snb))
                return true;
        return false;
    }

    HRESULT CheckModeFlags(DWORD mode, bool reserved) const {
        if ((mode & kAccessMask) == 3 || (mode & kShareMask) != STGM_SHARE_EXCLUSIVE)
            return STG_E_INVALIDFLAG;
        if (reserved)
            return STG_E_INVALIDPARAMETER;
        if (mode & (STGM_DELETEONRELEASE | STGM_TRANSACTED | STGM_SIMPLE | STGM_PRIORITY))
            return STG_E_INVALIDFUNCTION;
        if (node_->reverted)
            return STG_E_REVERTED;
        // A child cannot be opened with wider access than its parent.
        if ((mode & kAccessMask) > (mode_ & kAccessMask) && (mode_ & kAccessMask) != STGM_READWRITE)
            return STG_E_ACCESSDENIED;
        return S_OK;
    }

    HRESULT CheckCreate(const OLECHAR* name, DWORD mode, bool reserved) {
        HRESULT hr = CheckName(name);
        if (FAILED(hr))
            return hr;
        if (mode & STGM_CONVERT)
            return STG_E_INVALIDFLAG;
        hr = CheckModeFlags(mode, reserved);
        if (FAILED(hr))
            return hr;
        return Writable() ? S_OK : STG_E_ACCESSDENIED;
    }

    HRESULT CheckOpen(const OLECHAR* name, DWORD mode, bool reserved, DWORD type, Element** out) {
        HRESULT hr = CheckName(name);
        if (FAILED(hr))
            return hr;
        if (mode & (STGM_CREATE | STGM_CONVERT))
            return STG_E_INVALIDFLAG;
        hr = CheckModeFlags(mode, reserved);
        if (FAILED(hr))
            return hr;
        auto it = Find(name);
        if (it == node_->children.end() || it->type != type)
            return STG_E_FILENOTFOUND;
        if (IsOpen(*it))
            return STG_E_ACCESSDENIED; // share-exclusive: one open at a time
        *out = &*it;
        return S_OK;
    }

    // Adds a new element, replacing one of the same name if STGM_CREATE asks for it.
    HRESULT Replace(const OLECHAR* name, DWORD mode, Element e) {
        auto it = Find(name);
        if (it != node_->children.end()) {
            if (!(mode & STGM_CREATE))
                return STG_E_FILEALREADYEXISTS;
            if (IsOpen(*it))
                return STG_E_ACCESSDENIED;
            MarkReverted(*it);
            *it = std::move(e);
        } else {
            node_->children.push_back(std::move(e));
        }
        node_->mtime = CurrentFileTime();
        return S_OK;
    }

    // Copies one element into any storage through its interface.
    static HRESULT CopyElement(const Element& e, IStorage* dest, const OLECHAR* name) {
        constexpr DWORD kCreate = STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE;
        if (e.stream) {
            ComPtr<IStream> out;
            HRESULT hr = dest->CreateStream(name, kCreate, 0, 0, &out);
            if (FAILED(hr))
                return hr;
            std::vector<BYTE> bytes;
            {
                std::lock_guard lock(e.stream->mutex);
                bytes = e.stream->bytes;
            }
            if (bytes.empty())
                return S_OK;
            ULONG written = 0;
            hr = out->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
            if (SUCCEEDED(hr) && written != bytes.size())
                hr = STG_E_WRITEFAULT;
            return hr;
        }
        ComPtr<IStorage> out;
        HRESULT hr = dest->CreateStorage(name, kCreate, 0, 0, &out);
        if (FAILED(hr))
            return hr;
        hr = out->SetClass(e.storage->clsid);
        if (FAILED(hr))
            return hr;
        for (const auto& child : e.storage->children) {
            hr = CopyElement(child, out.Get(), child.Name().c_str());
            if (FAILED(hr))
                return hr;
        }
        return S_OK;
    }

    std::shared_ptr<Tree> tree_;
    std::shared_ptr<StorageNode> node_;
    DWORD mode_;
};

class StatEnumerator final : public SimpleObject<StatEnumerator, IEnumSTATSTG> {
public:
    StatEnumerator(std::shared_ptr<Tree> tree, std::vector<Element> items, size_t pos = 0)
        : tree_(std::move(tree)), items_(std::move(items)), pos_(pos) {}

    STDMETHOD(Next)(ULONG celt, STATSTG* rgelt, ULONG* fetched) override {
        if (!rgelt || (celt > 1 && !fetched))
            return STG_E_INVALIDPOINTER;
        std::lock_guard lock(tree_->mutex);
        ULONG n = 0;
        for (; n < celt && pos_ < items_.size(); ++n, ++pos_) {
            HRESULT hr = MemoryStorage::StatOf(items_[pos_], STATFLAG_DEFAULT, &rgelt[n]);
            if (FAILED(hr)) {
                for (ULONG i = 0; i < n; ++i)
                    CoTaskMemFree(rgelt[i].pwcsName);
                return hr;
            }
        }
        if (fetched)
            *fetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    STDMETHOD(Skip)(ULONG celt) override {
        size_t left = items_.size() - pos_;
        pos_ += std::min<size_t>(celt, left);
        return celt <= left ? S_OK : S_FALSE;
    }
    STDMETHOD(Reset)() override {
        pos_ = 0;
        return S_OK;
    }
    STDMETHOD(Clone)(IEnumSTATSTG** out) override {
        if (!out)
            return STG_E_INVALIDPOINTER;
        *out = new StatEnumerator(tree_, items_, pos_);
        return S_OK;
    }

private:
    std::shared_ptr<Tree> tree_;
    std::vector<Element> items_; // a snapshot taken when the enumeration began
    size_t pos_;
};

HRESULT MemoryStorage::EnumElements(DWORD r1, void* r2, DWORD r3, IEnumSTATSTG** out) {
    if (!out)
        return STG_E_INVALIDPOINTER;
    *out = nullptr;
    if (r1 || r2 || r3)
        return STG_E_INVALIDPARAMETER;
    std::lock_guard lock(tree_->mutex);
    if (node_->reverted)
        return STG_E_REVERTED;
    *out = new StatEnumerator(tree_, node_->children);
    return S_OK;
}

} // namespace
} // namespace velmora::com

HRESULT CreateMemoryStorage(IStorage** ppstg) {
    using namespace velmora::com;
    if (!ppstg)
        return E_POINTER;
    auto root = std::make_shared<StorageNode>();
    root->ctime = root->mtime = root->atime = CurrentFileTime();
    *ppstg = new MemoryStorage(std::make_shared<Tree>(), std::move(root),
                               STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    return S_OK;
}
