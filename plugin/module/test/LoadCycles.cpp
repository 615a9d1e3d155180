// A host in small, meeting the plug-in library as a host application does. It loads the
// helper library (Elvatrix.dll, libElvatrix.so), then runs two series of cycles:
//
//   bare   load the plug-in (ZQBlog.dll, libzqblog.so) and free it;
//   used   load it, take the plug-in with GetPluginObject, start it with a platform
//          object of its own, sign a user in, fetch the user's server directory and
//          album list through scripted HTTP connections (no network), read the albums,
//          forget the session, drop every reference, check that DllCanUnloadNow says
//          yes, free it.
//
// The data folder and the user are Chinese ("数据" below the current folder, "张三"): the
// first used cycle's album list is a 200 reply that the plug-in caches, every later one a
// 304 that it answers from that cache; afterwards the cache is listed back through the
// wide file calls.
//
// Each series is measured after its first cycles and at its end: handles (on Linux, open
// files), the bytes in use in the heaps, and private bytes. What a bare cycle keeps
// belongs to the compiler runtime linked into the library; a used cycle must keep no
// handle and no heap byte more than a bare one.
//
//   zqblog_load_cycles [cycles]      (1000 each when not given)
//
// On Windows both libraries are looked for beside the program; elsewhere their paths
// are built in. Prints what it measured; exits 0 when everything held, otherwise prints
// one line per fault and exits 1.
#if defined(_WIN32)
#include <windows.h>  // before psapi.h, which needs its types

#include <psapi.h>
#else
#include <dirent.h>
#include <dlfcn.h>
#include <malloc.h>
#include <unistd.h>
#endif

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "interfaces/ISettingsSection.h"
#include "interfaces/ISettingsStore.h"
#include "interfaces/IZQAlbumInfo.h"
#include "interfaces/IZQAlbumListInfo.h"
#include "interfaces/IZQBlog.h"
#include "interfaces/IZQBlogOperation.h"
#include "interfaces/IZQCPCommandWorkshop.h"
#include "interfaces/IZQCPPlatform.h"
#include "interfaces/IZQCPPluginRegistry.h"
#include "test/FrameworkTestSupport.h"
#include "test/XmlParserTestSupport.h"

namespace {

using Velmora::ZQBlog::com_testing::Fake;
using Velmora::ZQBlog::framework_testing::FakeBuffer;
using Velmora::ZQBlog::framework_testing::FakeRequest;
using Velmora::ZQBlog::framework_testing::TextOf;
using Velmora::ZQBlog::xml_testing::FakeHeaders;
using Velmora::ZQBlog::xml_testing::FakeXmlParser;

typedef HRESULT(STDMETHODCALLTYPE* NoArgExport)();
typedef HRESULT(STDMETHODCALLTYPE* GetPluginObjectExport)(void**);
typedef void (*SetDataRootExport)(const wchar_t*);

const wchar_t kDataFolder[] = L"\u6570\u636e";  // 数据
const wchar_t kUser[] = L"\u5f20\u4e09";        // 张三
const wchar_t kAlbumName[] = L"\u65c5\u884c";   // 旅行
const char kLastModified[] = "Tue, 01 Dec 2026 10:00:00 GMT";
const char kAlbumList[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<categories>"
    "<category id=\"12\" category_type=\"0\" show_status=\"1\" last_time=\"2026-12-01\">"
    "<category_name>\xe6\x97\x85\xe8\xa1\x8c</category_name><desc>d</desc>"
    "<pic_url>http://pic.velmora.cn/12.jpg</pic_url><tags tag_num=\"0\"/></category>"
    "</categories>";
constexpr auto kCommandTimeOut = std::chrono::seconds(10);

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer's allocator holds freed blocks back and keeps books of each loaded
// library: its counts say nothing of what a cycle keeps. Its leak checker judges memory
// there instead, at exit.
constexpr bool kHeapCounted = false;
#else
constexpr bool kHeapCounted = true;
#endif

#if defined(_WIN32)
const char kPluginLibrary[] = "ZQBlog.dll";
const char kHelperLibrary[] = "Elvatrix.dll";
typedef HMODULE Library;
Library Load(const char* path) { return LoadLibraryA(path); }
void* Symbol(Library library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(library, name));
}
bool Unload(Library library) { return FreeLibrary(library) != 0; }
#else
const char kPluginLibrary[] = ZQ_CYCLES_PLUGIN;
const char kHelperLibrary[] = ZQ_CYCLES_HELPER;
typedef void* Library;
Library Load(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
void* Symbol(Library library, const char* name) { return dlsym(library, name); }
bool Unload(Library library) { return dlclose(library) == 0; }
#endif

// An export of library by name, as type F; null when there is none.
template <class F>
F ExportOf(Library library, const char* name) {
  return reinterpret_cast<F>(Symbol(library, name));
}

// A wide path as the file calls of this system take it.
std::filesystem::path DiskPath(const std::wstring& path) {
#if defined(_WIN32)
  return std::filesystem::path(path);
#else
  std::string bytes;
  int length = WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (length > 1) {
    bytes.resize(static_cast<size_t>(length));
    WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, &bytes[0], length, nullptr, nullptr);
    bytes.pop_back();
  }
  for (char& c : bytes) c = c == '\\' ? '/' : c;
  return std::filesystem::u8path(bytes);
#endif
}

std::vector<std::string> g_faults;

void Fault(const std::string& text) {
  if (g_faults.size() < 20) std::printf("load cycles: %s\n", text.c_str());
  g_faults.push_back(text);
}

// The host's one thread: runs the workshop's steps and plays the connections'
// events, in the order they were posted.
class HostThread {
 public:
  HostThread() : thread_([this] { Run(); }) {}
  ~HostThread() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  void Post(std::function<void()> job) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      jobs_.push_back(std::move(job));
    }
    changed_.notify_all();
  }

  // Waits until no job is queued or running; false after the time-out.
  bool WaitIdle() {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, kCommandTimeOut, [this] { return jobs_.empty() && !busy_; });
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
      changed_.wait(hold, [this] { return stop_ || !jobs_.empty(); });
      if (jobs_.empty()) return;
      std::function<void()> job = std::move(jobs_.front());
      jobs_.pop_front();
      busy_ = true;
      hold.unlock();
      job();
      job = nullptr;  // what the job held goes on this thread, outside the lock
      hold.lock();
      busy_ = false;
      changed_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> jobs_;
  bool busy_ = false;
  bool stop_ = false;
  std::thread thread_;
};

// One reply of the scripted service.
struct Reply {
  int status = 404;
  std::string lastModified;
  std::string body;
};

// The service: the server directory, and the album list, conditional on
// "If-Modified-Since". Counts the album lists it answered in full and with 304.
class ScriptedService {
 public:
  Reply Answer(const FakeRequest& request) {
    Reply reply;
    if (request.path.compare(0, 8, "/touch3/") == 0) {
      reply.status = 200;
      reply.body =
          "200\r\n1\r\nhttp://data.velmora.cn/cid/Cid.dat\r\n1\r\n"
          "http://data.velmora.cn/blog/albums.xml\r\n1\r\n"
          "http://data.velmora.cn/blog/album/<id>.xml\r\n";
    } else if (request.path == "/blog/albums.xml") {
      bool current = false;
      for (const auto& header : request.headers) {
        current =
            current || (header.first == "If-Modified-Since" && header.second == kLastModified);
      }
      std::lock_guard<std::mutex> hold(mutex_);
      if (current) {
        reply.status = 304;
        ++notModified_;
      } else {
        reply.status = 200;
        reply.lastModified = kLastModified;
        reply.body = kAlbumList;
        ++full_;
      }
    }
    return reply;
  }

  int full() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return full_;
  }
  int notModified() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return notModified_;
  }

 private:
  mutable std::mutex mutex_;
  int full_ = 0;
  int notModified_ = 0;
};

// A connection whose replies come from the scripted service, its events from
// the host thread: OnConnect after Open; OnSendComplete and OnHeaders after
// Send; OnComplete with the body after Continue.
class ScriptedConnection : public Fake<IHttpConnection> {
 public:
  ScriptedConnection(HostThread* thread, ScriptedService* service)
      : thread_(thread), service_(service) {}

  STDMETHOD(Advise)(IHttpConnectionClientEvents* events) override {
    std::lock_guard<std::mutex> hold(mutex_);
    events_ = events;
    return S_OK;
  }
  STDMETHOD(Unadvise)(IHttpConnectionClientEvents*) override {
    CComPtr<IHttpConnectionClientEvents> dropped;
    std::lock_guard<std::mutex> hold(mutex_);
    dropped.Attach(events_.Detach());
    return S_OK;
  }
  STDMETHOD(SetServer)(CountedString, DWORD) override { return S_OK; }
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  STDMETHOD(Open)() override {
    Deliver([](IHttpConnectionClientEvents* events, ScriptedConnection*) {
      events->OnConnect(0, nullptr);
    });
    return S_OK;
  }
  STDMETHOD(Send)(IHttpRequest* request, IHttpBuffer*) override {
    // Every request the plug-in sends was made by this host's factory.
    Reply reply = service_->Answer(*static_cast<FakeRequest*>(request));
    CComPtr<FakeHeaders> headers(new FakeHeaders(reply.status));
    if (!reply.lastModified.empty()) headers->Field("Last-Modified", reply.lastModified);
    {
      std::lock_guard<std::mutex> hold(mutex_);
      headers_ = headers;
      body_ = reply.body;
    }
    Deliver([](IHttpConnectionClientEvents* events, ScriptedConnection* self) {
      events->OnSendComplete(0, nullptr);
      events->OnHeaders(self->Headers(), nullptr);
    });
    return S_OK;
  }
  STDMETHOD(Continue)() override {
    Deliver([](IHttpConnectionClientEvents* events, ScriptedConnection* self) {
      CComPtr<FakeBuffer> body(new FakeBuffer(self->Body()));
      events->OnComplete(0, self->Headers(), body->bytes().empty() ? nullptr : body.p, nullptr);
    });
    return S_OK;
  }
  STDMETHOD(Close)() override { return S_OK; }

 private:
  // Runs event on the host thread with the events advised then; none after
  // Unadvise.
  void Deliver(void (*event)(IHttpConnectionClientEvents*, ScriptedConnection*)) {
    CComPtr<ScriptedConnection> self(this);
    thread_->Post([self, event] {
      CComPtr<IHttpConnectionClientEvents> events;
      {
        std::lock_guard<std::mutex> hold(self->mutex_);
        events = self->events_;
      }
      if (events) event(events, self);
    });
  }
  CComPtr<IHttpReplyHeaders> Headers() {
    std::lock_guard<std::mutex> hold(mutex_);
    return CComPtr<IHttpReplyHeaders>(headers_);
  }
  std::string Body() {
    std::lock_guard<std::mutex> hold(mutex_);
    return body_;
  }

  HostThread* thread_;
  ScriptedService* service_;
  std::mutex mutex_;
  CComPtr<IHttpConnectionClientEvents> events_;
  CComPtr<FakeHeaders> headers_;
  std::string body_;
};

class Factory : public Fake<IHttpConnectionFactory> {
 public:
  Factory(HostThread* thread, ScriptedService* service) : thread_(thread), service_(service) {}

  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(CreateConnection)
  (int, void*, IHttpConnection** connection) override {
    CComPtr<IHttpConnection> made(new ScriptedConnection(thread_, service_));
    *connection = made.Detach();
    return S_OK;
  }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(CreateRequest)
  (IHttpRequest** request, CountedString method, CountedString path,
   CountedString version) override {
    CComPtr<FakeRequest> made(new FakeRequest);
    made->method = TextOf(method);
    made->path = TextOf(path);
    made->version = TextOf(version);
    *request = made.Detach();
    return S_OK;
  }
  STDMETHOD(Reserved5)() override { return E_NOTIMPL; }
  STDMETHOD(CreateBuffer)(IHttpBuffer** buffer) override {
    CComPtr<IHttpBuffer> made(new FakeBuffer);
    *buffer = made.Detach();
    return S_OK;
  }

 private:
  HostThread* thread_;
  ScriptedService* service_;
};

// The workshop: Start and every Step on the host thread; keeps each command
// until it ends and counts the ends by state.
class Workshop : public Fake<IZQCPCommandWorkshop> {
 public:
  explicit Workshop(HostThread* thread) : thread_(thread), sink_(new Sink(this)) {}

  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  // Holds command until it ends.
  STDMETHOD(AddCommand)(IWorkshopCmd* command) override {
    CComPtr<IWorkshopCmd> held(command);
    {
      std::lock_guard<std::mutex> hold(mutex_);
      running_.push_back(held);
    }
    command->AddEventSink(sink_);
    thread_->Post([held] { held->Start(); });
    return S_OK;
  }

  // Waits until n commands have ended; the state each ended in, in order.
  std::vector<int> WaitForEnds(size_t n) {
    std::unique_lock<std::mutex> hold(mutex_);
    ended_.wait_for(hold, kCommandTimeOut, [&] { return ends_.size() >= n; });
    return ends_;
  }
  // Forgets the ends counted so far.
  void ClearEnds() {
    std::lock_guard<std::mutex> hold(mutex_);
    ends_.clear();
  }

 private:
  class Sink : public Fake<ICmdEvent> {
   public:
    explicit Sink(Workshop* workshop) : workshop_(workshop) {}
    STDMETHOD(OnStateChanged)
    (IWorkshopCmd* command, int, int newState) override {
      if (newState == 3) {
        CComPtr<IWorkshopCmd> held(command);
        workshop_->thread_->Post([held] { held->Step(); });
      } else if (newState >= 5 && newState <= 8) {
        // The command is let go on the host thread: this call holds its lock.
        Workshop* workshop = workshop_;
        CComPtr<IWorkshopCmd> ended(command);
        workshop->thread_->Post([workshop, ended, newState] {
          std::lock_guard<std::mutex> hold(workshop->mutex_);
          for (auto it = workshop->running_.begin(); it != workshop->running_.end(); ++it) {
            if (it->p == ended.p) {
              workshop->running_.erase(it);
              break;
            }
          }
          workshop->ends_.push_back(newState);
          workshop->ended_.notify_all();
        });
      }
      return S_OK;
    }

   private:
    Workshop* workshop_;
  };

  HostThread* thread_;
  CComPtr<Sink> sink_;
  std::mutex mutex_;
  std::condition_variable ended_;
  std::vector<CComPtr<IWorkshopCmd>> running_;
  std::vector<int> ends_;
};

// The settings store, kept by the host across the plug-in's cycles.
class SettingsStore : public Fake<ISettingsStore> {
 public:
  typedef std::map<std::string, std::string> Section;

  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(CreateSection)(BSTR name, int) override {
    std::lock_guard<std::mutex> hold(mutex_);
    return sections_.emplace(std::wstring(name, SysStringLen(name)), Section()).second ? S_OK
                                                                                       : S_FALSE;
  }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(OpenSection)(BSTR name, ISettingsSection** section) override {
    *section = nullptr;
    std::lock_guard<std::mutex> hold(mutex_);
    auto found = sections_.find(std::wstring(name, SysStringLen(name)));
    if (found == sections_.end()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    CComPtr<ISettingsSection> handle(new SectionHandle(this, &found->second));
    *section = handle.Detach();
    return S_OK;
  }

 private:
  class SectionHandle : public Fake<ISettingsSection> {
   public:
    SectionHandle(SettingsStore* store, Section* values) : store_(store), values_(values) {}
    STDMETHOD(WriteValue)(LPCSTR key, int, LPCSTR value, int length) override {
      if (length < 0) return E_INVALIDARG;
      std::lock_guard<std::mutex> hold(store_->mutex_);
      (*values_)[key].assign(value, static_cast<size_t>(length));
      return S_OK;
    }
    STDMETHOD(ReadValue)(LPCSTR key, char* buffer, int* length) override {
      std::lock_guard<std::mutex> hold(store_->mutex_);
      auto found = values_->find(key);
      if (found == values_->end()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
      int needed = static_cast<int>(found->second.size()) + 1;
      if (*length < needed) {
        *length = needed;
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
      }
      std::memcpy(buffer, found->second.c_str(), static_cast<size_t>(needed));
      *length = needed - 1;
      return S_OK;
    }

   private:
    CComPtr<SettingsStore> store_;
    Section* values_;
  };

  std::mutex mutex_;
  std::map<std::wstring, Section> sections_;
};

// Keeps the plug-ins registered with it until the host drops them.
class PluginRegistry : public Fake<IZQCPPluginRegistry> {
 public:
  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved5)() override { return E_NOTIMPL; }
  STDMETHOD(RegisterPlugin)(REFIID, IUnknown* plugin) override {
    plugins_.emplace_back(plugin);
    return S_OK;
  }
  void DropAll() { plugins_.clear(); }

 private:
  std::vector<CComPtr<IUnknown>> plugins_;
};

// The platform object of one cycle. No share-session manager: the plug-in runs
// alone.
class Platform : public Fake<IZQCPPlatform> {
 public:
  Platform(HostThread* thread, ScriptedService* service, SettingsStore* store)
      : registry(new PluginRegistry),
        workshop(new Workshop(thread)),
        factory_(new Factory(thread, service)),
        store_(store) {}

  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(GetPluginRegistry)(IZQCPPluginRegistry** out) override { return Hand(registry, out); }
  STDMETHOD(GetCommandWorkshop)(IZQCPCommandWorkshop** out) override { return Hand(workshop, out); }
  STDMETHOD(Reserved6)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved7)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved8)() override { return E_NOTIMPL; }
  STDMETHOD(GetHttpConnectionFactory)(IHttpConnectionFactory** out) override {
    return Hand(factory_, out);
  }
  STDMETHOD(GetShareSessionManager)(IShareSessionManager** out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHOD(Reserved11)() override { return E_NOTIMPL; }
  STDMETHOD(GetSettingsStore)(ISettingsStore** out) override { return Hand(store_, out); }
  STDMETHOD(CreateObjectByName)(LPCWSTR name, int, IUnknown** object) override {
    *object = nullptr;
    if (std::wstring(name) != L"IXMLPackageParser") return CLASS_E_CLASSNOTAVAILABLE;
    CComPtr<IPackageParser> parser(new FakeXmlParser);
    *object = parser.Detach();
    return S_OK;
  }

  CComPtr<PluginRegistry> registry;
  CComPtr<Workshop> workshop;

 private:
  template <class T, class I>
  static HRESULT Hand(const CComPtr<T>& object, I** out) {
    *out = object;
    object->AddRef();
    return S_OK;
  }

  CComPtr<Factory> factory_;
  CComPtr<SettingsStore> store_;
};

// What the process holds at one moment.
struct ProcessFigures {
  long handles = -1;                    // -1: not known
  long long heapBytes = -1;             // in use in the heaps; -1: not known
  unsigned long long privateBytes = 0;  // committed or resident private memory
};

#if defined(_WIN32)
// The handles this process holds, from the system's handle table
// (GetProcessHandleCount answers 0 under Wine); -1 when the table cannot be
// read.
long CountHandles() {
  struct Entry {
    ULONG_PTR object, process, handle;
    ULONG access;
    USHORT backTrace, type;
    ULONG attributes, reserved;
  };
  struct Table {
    ULONG_PTR count, reserved;
    Entry entries[1];
  };
  typedef LONG(NTAPI * QueryExport)(ULONG, void*, ULONG, ULONG*);
  const ULONG kExtendedHandleInformation = 64;
  const LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
  auto query = ExportOf<QueryExport>(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation");
  if (query == nullptr) return -1;
  std::vector<char> buffer(1 << 16);
  for (;;) {
    ULONG needed = 0;
    LONG status = query(kExtendedHandleInformation, buffer.data(),
                        static_cast<ULONG>(buffer.size()), &needed);
    if (status == kInfoLengthMismatch && buffer.size() < (64u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (status != 0) return -1;
    const Table* table = reinterpret_cast<const Table*>(buffer.data());
    long mine = 0;
    for (ULONG_PTR i = 0; i < table->count; ++i) {
      mine += table->entries[i].process == GetCurrentProcessId() ? 1 : 0;
    }
    return mine;
  }
}

// The bytes of the busy blocks of every heap of the process.
long long HeapBytesInUse() {
  std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
  heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
  long long bytes = 0;
  for (HANDLE heap : heaps) {
    if (!HeapLock(heap)) return -1;
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heap, &entry)) {
      if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) bytes += entry.cbData;
    }
    HeapUnlock(heap);
  }
  return bytes;
}

// Private bytes: the commit charge (PagefileUsage, which Windows gives as
// PrivateUsage too; Wine gives only the first).
ProcessFigures Measure() {
  ProcessFigures figures;
  figures.handles = CountHandles();
  figures.heapBytes = HeapBytesInUse();
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    figures.privateBytes = counters.PagefileUsage;
  }
  return figures;
}
#else
// Handles: the open files; heap bytes: what malloc has handed out; private
// bytes: the anonymous resident memory ("RssAnon").
ProcessFigures Measure() {
  ProcessFigures figures;
  struct mallinfo2 heap = mallinfo2();
  figures.heapBytes = static_cast<long long>(heap.uordblks + heap.hblkhd);
  if (DIR* fds = opendir("/proc/self/fd")) {
    figures.handles = 0;
    while (readdir(fds) != nullptr) ++figures.handles;
    closedir(fds);
  }
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.compare(0, 8, "RssAnon:") == 0) {
      figures.privateBytes = std::strtoull(line.c_str() + 8, nullptr, 10) * 1024;
    }
  }
  return figures;
}
#endif

std::wstring TakeText(BSTR text) {
  std::wstring value = text != nullptr ? std::wstring(text, SysStringLen(text)) : std::wstring();
  SysFreeString(text);
  return value;
}

// Runs one operation and waits for its command to end; the state it ended in,
// or -1.
template <class Start>
int RunCommand(Workshop* workshop, Start start) {
  workshop->ClearEnds();
  HRESULT hr = start();
  if (FAILED(hr)) return -1;
  std::vector<int> ends = workshop->WaitForEnds(1);
  return ends.size() == 1 ? ends[0] : -1;
}

// One load, use and unload of the plug-in; with use false only the load and
// unload.
void Cycle(int cycle, bool use, HostThread* thread, ScriptedService* service,
           SettingsStore* store) {
  const std::string at = "cycle " + std::to_string(cycle) + ": ";
  Library dll = Load(kPluginLibrary);
  if (dll == nullptr) {
    Fault(at + "the plug-in did not load");
    return;
  }
  if (!use) {
    if (!Unload(dll)) Fault(at + "the plug-in did not unload");
    return;
  }
  auto getPlugin = ExportOf<GetPluginObjectExport>(dll, "GetPluginObject");
  auto canUnload = ExportOf<NoArgExport>(dll, "DllCanUnloadNow");
  void* object = nullptr;
  if (getPlugin == nullptr || canUnload == nullptr || getPlugin(&object) != S_OK ||
      object == nullptr) {
    Fault(at + "no plug-in object");
    Unload(dll);
    return;
  }
  CComPtr<Platform> platform(new Platform(thread, service, store));
  {
    CComPtr<IZQBlog> blog(static_cast<IZQBlog*>(object));
    CComPtr<IZQBlogOperation> operation;
    blog->QueryInterface(IID_IZQBlogOperation, reinterpret_cast<void**>(&operation));
    if (!operation || blog->Initialize(static_cast<IZQCPPlatform*>(platform)) != S_OK ||
        blog->SetCurrentUser(kUser) != S_OK) {
      Fault(at + "the plug-in did not start");
    } else {
      int directory = RunCommand(platform->workshop, [&] {
        return operation->RefreshBlogServerInfo(kUser, 0, nullptr, nullptr);
      });
      int albums = RunCommand(platform->workshop,
                              [&] { return operation->GetAlbumList(kUser, nullptr, nullptr); });
      if (directory != 5 || albums != 5) {
        Fault(at + "the commands ended in states " + std::to_string(directory) + " and " +
              std::to_string(albums));
      }
      CComPtr<IZQAlbumListInfo> list;
      CComPtr<IZQAlbumInfo> album;
      int count = 0;
      BSTR name = nullptr;
      if (blog->GetAlbumListInfo(kUser, &list) != S_OK || list->GetAlbumCount(&count) != S_OK ||
          count != 1 || list->GetAlbum(0, &album) != S_OK ||
          album->GetCategoryName(&name) != S_OK || TakeText(name) != kAlbumName) {
        Fault(at + "the album list did not read back (" + std::to_string(count) + " albums)");
      }
    }
    // The session's albums and results are objects of the library: it can go
    // only once they are forgotten.
    blog->ClearSession();
  }
  platform->registry->DropAll();
  if (!thread->WaitIdle()) Fault(at + "the host thread did not come to rest");
  if (canUnload() != S_OK) Fault(at + "DllCanUnloadNow said no with every reference dropped");
  if (!Unload(dll)) Fault(at + "the plug-in did not unload");
  if (platform->refs() != 1) {
    Fault(at + "the freed plug-in still holds " + std::to_string(platform->refs() - 1) +
          " references to the platform");
  }
}

// The name of the one entry FindFirstFileW finds for path; empty when none.
std::wstring FoundName(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(path.c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return std::wstring();
  FindClose(find);
  return found.cFileName;
}

// The cache the first cycle wrote, listed back through the wide file calls.
void CheckCache(const std::wstring& root) {
  const std::wstring users = root + L"users\\";
  const std::wstring folder = users + kUser + L"\\BlogCache\\";
  const std::wstring file = std::wstring(L"AlbumList_") + kUser + L".xml";
  if (FoundName(users + kUser) != kUser ||
      FoundName(users + kUser + L"\\BlogCache") != L"BlogCache" ||
      FoundName(folder + L"*.xml") != file) {
    Fault("the cache is not where it should be, by those names");
    return;
  }
  std::ifstream in(DiskPath(folder + file), std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (text.find("\xe6\x97\x85\xe8\xa1\x8c") == std::string::npos) {
    Fault("the cached album list lacks the album");
  }
}

// The current folder, ending with a separator.
std::wstring CurrentFolder() {
#if defined(_WIN32)
  return std::filesystem::current_path().wstring() + L"\\";
#else
  char* cwd = getcwd(nullptr, 0);
  std::wstring wide;
  if (cwd != nullptr) {
    int length = MultiByteToWideChar(CP_UTF8, 0, cwd, -1, nullptr, 0);
    if (length > 1) {
      wide.resize(static_cast<size_t>(length));
      MultiByteToWideChar(CP_UTF8, 0, cwd, -1, &wide[0], length);
      wide.pop_back();
    }
    std::free(cwd);
  }
  return wide + L"/";
#endif
}

}  // namespace

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? std::atoi(argv[1]) : 1000;
  if (cycles < 2) {
    std::fprintf(stderr, "usage: zqblog_load_cycles [cycles >= 2]\n");
    return 2;
  }
  std::printf("load cycles: %d-bit process, code page %u\n", static_cast<int>(sizeof(void*) * 8),
              GetACP());

  std::error_code ignored;
  const std::wstring root = CurrentFolder() + kDataFolder + L"\\";
  std::filesystem::remove_all(DiskPath(root), ignored);
  Library helper = Load(kHelperLibrary);
  auto setRoot =
      helper != nullptr ? ExportOf<SetDataRootExport>(helper, "ZQ_SetDataRoot") : nullptr;
  if (setRoot == nullptr) {
    std::printf("load cycles: no helper library %s\n", kHelperLibrary);
    return 1;
  }
  setRoot(root.c_str());

  ScriptedService service;
  CComPtr<SettingsStore> store(new SettingsStore);
  const int warmUp = cycles < 100 ? 1 : 50;
  // Two runs of as many cycles: the plug-in loaded and freed bare, then loaded,
  // used and freed. Each is measured after its first cycles and at its end.
  ProcessFigures bare[2], used[2];
  double seconds = 0;
  {
    HostThread thread;
    for (int cycle = 1; cycle <= cycles && g_faults.empty(); ++cycle) {
      Cycle(cycle, false, &thread, &service, store);
      if (cycle == warmUp) bare[0] = Measure();
    }
    bare[1] = Measure();
    const auto start = std::chrono::steady_clock::now();
    for (int cycle = 1; cycle <= cycles && g_faults.size() < 20; ++cycle) {
      Cycle(cycle, true, &thread, &service, store);
      if (cycle == warmUp) used[0] = Measure();
    }
    used[1] = Measure();
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  CheckCache(root);
  if (service.full() != 1 || service.notModified() != cycles - 1) {
    Fault("the album list came " + std::to_string(service.full()) + " times whole and " +
          std::to_string(service.notModified()) + " times from the cache; expected 1 and " +
          std::to_string(cycles - 1));
  }

  const int measured = cycles - warmUp;
  auto perCycle = [measured](long long first, long long last) {
    return static_cast<double>(last - first) / measured;
  };
  const double bareHandles = perCycle(bare[0].handles, bare[1].handles);
  const double usedHandles = perCycle(used[0].handles, used[1].handles);
  const double bareHeap = perCycle(bare[0].heapBytes, bare[1].heapBytes);
  const double usedHeap = perCycle(used[0].heapBytes, used[1].heapBytes);
  const double barePrivate = perCycle(static_cast<long long>(bare[0].privateBytes),
                                      static_cast<long long>(bare[1].privateBytes));
  const double usedPrivate = perCycle(static_cast<long long>(used[0].privateBytes),
                                      static_cast<long long>(used[1].privateBytes));
  std::printf("load cycles: %d used cycles in %.1f s\n", cycles, seconds);
  std::printf(
      "load cycles: kept per cycle (over cycles %d to %d)   handles   "
      "heap bytes   "
      "private bytes\n",
      warmUp + 1, cycles);
  std::printf(
      "load cycles:   loaded and freed                   %7.2f   "
      "%10.0f   %13.0f\n",
      bareHandles, bareHeap, barePrivate);
  std::printf(
      "load cycles:   loaded, used and freed             %7.2f   "
      "%10.0f   %13.0f\n",
      usedHandles, usedHeap, usedPrivate);
  if (!kHeapCounted) std::printf("load cycles: heap bytes left to the leak checker\n");
  // What loading alone keeps belongs to the library's compiler runtime (the
  // Windows DLL carries GCC's; see docs/windows.md); using the plug-in must
  // keep nothing more. The heap is counted to the byte: a block kept per cycle
  // shows at once.
  const double kHeapSlack = 64;  // bytes per cycle: the runtime's own bookkeeping
  // Handles are counted over the whole run: a handle kept even once in fifty cycles
  // shows as a score of them, while the system may open one or two of its own once,
  // at any cycle (Wine's server does).
  const long long kHandleSlack = 4;
  if (bare[0].handles < 0 || bare[0].heapBytes < 0 || used[0].heapBytes < 0) {
    Fault("the handles and heap of the process could not be read");
  } else {
    if (used[1].handles - used[0].handles >
        bare[1].handles - bare[0].handles + kHandleSlack) {
      Fault("using the plug-in keeps handles: " + std::to_string(usedHandles) +
            " per cycle against " + std::to_string(bareHandles) + " for loading alone");
    }
    if (kHeapCounted && usedHeap > bareHeap + kHeapSlack) {
      Fault("using the plug-in keeps heap memory: " + std::to_string(usedHeap) +
            " bytes per cycle against " + std::to_string(bareHeap) + " for loading alone");
    }
  }
  if (!g_faults.empty()) {
    std::printf("load cycles: FAILED, %d faults\n", static_cast<int>(g_faults.size()));
    return 1;
  }
  std::printf("load cycles: passed\n");
  return 0;
}
