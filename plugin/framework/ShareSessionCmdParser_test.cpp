#include "framework/ShareSessionCmdParser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "framework/ShareSessionCmdParserManager.h"
#include "interfaces/IBaseShareSessionCmd.h"
#include "interfaces/IShareSessionMessage.h"

namespace Velmora {
namespace ZQBlog {
namespace {

// A request message with a name (or one whose name cannot be read).
class FakeMessage : public IShareSessionMessage {
 public:
  explicit FakeMessage(const char* name, HRESULT nameResult = S_OK)
      : name_(name), nameResult_(nameResult) {}
  STDMETHOD(QueryInterface)(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
  STDMETHOD_(ULONG, Release)() override { return --refs; }
  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(GetId)(int* id) override {
    *id = 7;
    return S_OK;
  }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  STDMETHOD(GetName)(char* buffer, int size) override {
    if (FAILED(nameResult_)) return nameResult_;
    if (static_cast<int>(name_.size()) + 1 > size) return E_FAIL;
    std::memcpy(buffer, name_.c_str(), name_.size() + 1);
    return S_OK;
  }
  STDMETHOD(SetName)(LPCSTR) override { return E_NOTIMPL; }
  STDMETHOD(SetPayloadSize)(int) override { return E_NOTIMPL; }
  STDMETHOD(GetPayload)(BYTE**, int*) override { return E_NOTIMPL; }

  int refs = 0;

 private:
  std::string name_;
  HRESULT nameResult_;
};

// What the fake commands saw.
struct Seen {
  int created = 0;
  int destroyed = 0;
  IShareSessionMessage* request = nullptr;
  bool aliveAfterSetOperationMessage = false;
};
Seen g_seen;

// A command that keeps itself alive once it has its request, as a submitted command
// does (the workshop holds it).
class ShareableCmd : public CComObjectRootEx<CComMultiThreadModel>,
                     public IWorkshopCmd,
                     public IBaseShareSessionCmd {
 public:
  BEGIN_COM_MAP(ShareableCmd)
  COM_INTERFACE_ENTRY(IWorkshopCmd)
  COM_INTERFACE_ENTRY(IBaseShareSessionCmd)
  END_COM_MAP()

  ShareableCmd() { ++g_seen.created; }
  virtual ~ShareableCmd() {
    ++g_seen.destroyed;
    if (keptBy_ != nullptr) *keptBy_ = nullptr;
  }

  STDMETHOD(SetOperationMessage)(IShareSessionMessage* request) override {
    g_seen.request = request;
    // Simulate the workshop taking the command over.
    GetUnknown()->AddRef();
    g_kept = this;
    keptBy_ = &g_kept;
    return S_OK;
  }
  STDMETHOD(AddEventSink)(ICmdEvent*) override { return E_NOTIMPL; }
  STDMETHOD(GetState)(int*) override { return E_NOTIMPL; }
  STDMETHOD(SetState)(int, int*) override { return E_NOTIMPL; }
  STDMETHOD(Reserved1)() override { return E_FAIL; }
  STDMETHOD(Reserved2)(void*) override { return E_FAIL; }
  STDMETHOD(Start)() override { return E_NOTIMPL; }
  STDMETHOD(Step)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved3)() override { return S_OK; }
  STDMETHOD(Reserved4)() override { return E_FAIL; }
  STDMETHOD(GetDescription)(BSTR*) override { return E_NOTIMPL; }

  static ShareableCmd* g_kept;

 private:
  ShareableCmd** keptBy_ = nullptr;
};
ShareableCmd* ShareableCmd::g_kept = nullptr;

// A command that is not a share-session command.
class PlainCmd : public CComObjectRootEx<CComMultiThreadModel>, public IWorkshopCmd {
 public:
  BEGIN_COM_MAP(PlainCmd)
  COM_INTERFACE_ENTRY(IWorkshopCmd)
  END_COM_MAP()
  PlainCmd() { ++g_seen.created; }
  virtual ~PlainCmd() { ++g_seen.destroyed; }
  STDMETHOD(AddEventSink)(ICmdEvent*) override { return E_NOTIMPL; }
  STDMETHOD(GetState)(int*) override { return E_NOTIMPL; }
  STDMETHOD(SetState)(int, int*) override { return E_NOTIMPL; }
  STDMETHOD(Reserved1)() override { return E_FAIL; }
  STDMETHOD(Reserved2)(void*) override { return E_FAIL; }
  STDMETHOD(Start)() override { return E_NOTIMPL; }
  STDMETHOD(Step)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved3)() override { return S_OK; }
  STDMETHOD(Reserved4)() override { return E_FAIL; }
  STDMETHOD(GetDescription)(BSTR*) override { return E_NOTIMPL; }
};

template <class T>
HRESULT Make(IWorkshopCmd** out) {
  if (out == nullptr) return E_POINTER;
  CComObject<T>* object = nullptr;
  HRESULT hr = CComObject<T>::CreateInstance(&object);
  *out = object;
  return hr;
}
HRESULT Failing(IWorkshopCmd** out) {
  *out = nullptr;
  return E_OUTOFMEMORY;
}

class ParserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen = Seen();
    ASSERT_TRUE(parser_.Register("Shareable", &Make<ShareableCmd>));
    ASSERT_TRUE(parser_.Register("Plain", &Make<PlainCmd>));
    ASSERT_TRUE(parser_.Register("Failing", &Failing));
  }
  void TearDown() override {
    if (ShareableCmd::g_kept != nullptr) ShareableCmd::g_kept->GetUnknown()->Release();
  }
  ShareSessionCmdParser parser_;
};

TEST_F(ParserTest, FirstRegistrationStays) {
  EXPECT_FALSE(parser_.Register("Shareable", &Make<PlainCmd>));
  EXPECT_EQ(&Make<ShareableCmd>, parser_.Find("Shareable"));
  EXPECT_EQ(nullptr, parser_.Find("shareable"));  // exact, case-sensitive
}

TEST_F(ParserTest, KnownNameCreatesTheCommandAndHandsItTheRequest) {
  FakeMessage request("Shareable");
  EXPECT_EQ(S_OK, parser_.OnRecvOperation(&request));
  EXPECT_EQ(1, g_seen.created);
  EXPECT_EQ(&request, g_seen.request);
  ASSERT_NE(nullptr, ShareableCmd::g_kept);  // alive: the "workshop" holds it
  EXPECT_EQ(0, g_seen.destroyed);
  ShareableCmd::g_kept->GetUnknown()->Release();
  EXPECT_EQ(1, g_seen.destroyed);
}

TEST_F(ParserTest, UnknownUnreadableAndFailingAreDropped) {
  FakeMessage unknown("NoSuchCommand");
  EXPECT_EQ(S_OK, parser_.OnRecvOperation(&unknown));
  FakeMessage unreadable("Shareable", E_FAIL);
  EXPECT_EQ(S_OK, parser_.OnRecvOperation(&unreadable));
  FakeMessage failing("Failing");
  EXPECT_EQ(S_OK, parser_.OnRecvOperation(&failing));
  FakeMessage tooLong(std::string(300, 'x').c_str());
  EXPECT_EQ(S_OK, parser_.OnRecvOperation(&tooLong));
  EXPECT_EQ(S_OK, parser_.OnRecvOperation(nullptr));
  EXPECT_EQ(0, g_seen.created);
}

TEST_F(ParserTest, CommandWithoutShareSessionInterfaceIsRefusedAndFreed) {
  FakeMessage request("Plain");
  EXPECT_EQ(S_FALSE, parser_.OnRecvOperation(&request));
  EXPECT_EQ(1, g_seen.created);
  EXPECT_EQ(1, g_seen.destroyed);  // nobody took it over: not leaked
}

TEST_F(ParserTest, IdentityIsFixed) {
  void* out = nullptr;
  EXPECT_EQ(S_OK, parser_.QueryInterface(IID_IOnRecvShareSessionOperationEvent, &out));
  EXPECT_EQ(static_cast<IOnRecvShareSessionOperationEvent*>(&parser_), out);
  EXPECT_EQ(E_NOINTERFACE, parser_.QueryInterface(IID_IUnknown, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(1u, parser_.AddRef());
  EXPECT_EQ(1u, parser_.Release());
  EXPECT_EQ(1u, parser_.Release());
  FakeMessage result("Shareable");
  EXPECT_EQ(S_OK, parser_.OnRecvOperationResult(&result));
  EXPECT_EQ(0, g_seen.created);
}

TEST(ParserManagerTest, OneParserPerModuleName) {
  ShareSessionCmdParserManager_* manager = ShareSessionCmdParserManager_::Instance();
  ASSERT_NE(nullptr, manager);
  EXPECT_EQ(manager, ShareSessionCmdParserManager_::Instance());
  ShareSessionCmdParser* a = manager->GetParser("ModuleA");
  EXPECT_EQ(a, manager->GetParser("ModuleA"));
  ShareSessionCmdParser* b = manager->GetParser("ModuleB");
  EXPECT_NE(a, b);
  EXPECT_NE(a, manager->GetParser("modulea"));
  EXPECT_EQ(nullptr, b->Find("Anything"));  // a new parser is empty
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
