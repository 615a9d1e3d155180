// Checks what the host relies on in the interface declarations: the fixed interface
// ids, distinct ids everywhere, every operation at its fixed slot, and the by-value
// shape of CountedString.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "interfaces/CountedString.h"
#include "interfaces/ElvatrixExports.h"
#include "interfaces/IBaseShareSessionCmd.h"
#include "interfaces/ICmdEvent.h"
#include "interfaces/ICommonResult.h"
#include "interfaces/IHttpBuffer.h"
#include "interfaces/IHttpConnection.h"
#include "interfaces/IHttpConnectionClientEvents.h"
#include "interfaces/IHttpConnectionFactory.h"
#include "interfaces/IHttpReplyHeaders.h"
#include "interfaces/IHttpRequest.h"
#include "interfaces/IOnRecvShareSessionMsg.h"
#include "interfaces/IOnRecvShareSessionOperationEvent.h"
#include "interfaces/IPackage.h"
#include "interfaces/IPackageParser.h"
#include "interfaces/IResultOnAlbum.h"
#include "interfaces/IResultOnBatchOperation.h"
#include "interfaces/IResultOnResComment.h"
#include "interfaces/IResultOnResource.h"
#include "interfaces/ISettingsSection.h"
#include "interfaces/ISettingsStore.h"
#include "interfaces/IShareSessionChannel.h"
#include "interfaces/IShareSessionManager.h"
#include "interfaces/IShareSessionMessage.h"
#include "interfaces/IShareSessionServer.h"
#include "interfaces/IStringSetter.h"
#include "interfaces/IWorkshopCmd.h"
#include "interfaces/IXMLNode.h"
#include "interfaces/IXMLPackage.h"
#include "interfaces/IZQAlbumInfo.h"
#include "interfaces/IZQAlbumListInfo.h"
#include "interfaces/IZQBlog.h"
#include "interfaces/IZQBlogFailureSink.h"
#include "interfaces/IZQBlogOperation.h"
#include "interfaces/IZQBlogResultSink.h"
#include "interfaces/IZQCPCommandWorkshop.h"
#include "interfaces/IZQCPPlatform.h"
#include "interfaces/IZQCPPlugin.h"
#include "interfaces/IZQCPPluginRegistry.h"
#include "interfaces/IZQResInfo.h"

namespace {

// ---------------------------------------------------------------- derivation

template <class I>
constexpr bool kIsComInterface = std::is_base_of_v<IUnknown, I> && std::is_abstract_v<I>;

static_assert(kIsComInterface<IZQCPPlugin> && kIsComInterface<IZQBlog> &&
              kIsComInterface<IZQBlogOperation> && kIsComInterface<IWorkshopCmd> &&
              kIsComInterface<ICmdEvent> && kIsComInterface<IHttpConnectionClientEvents> &&
              kIsComInterface<IBaseShareSessionCmd> &&
              kIsComInterface<IOnRecvShareSessionOperationEvent> &&
              kIsComInterface<IOnRecvShareSessionMsg>);
static_assert(kIsComInterface<IZQCPPlatform> && kIsComInterface<IZQCPPluginRegistry> &&
              kIsComInterface<IZQCPCommandWorkshop> && kIsComInterface<IHttpConnectionFactory> &&
              kIsComInterface<IHttpConnection> && kIsComInterface<IHttpRequest> &&
              kIsComInterface<IHttpBuffer> && kIsComInterface<IHttpReplyHeaders> &&
              kIsComInterface<IXMLPackage> && kIsComInterface<IXMLNode> &&
              kIsComInterface<IShareSessionManager> && kIsComInterface<IShareSessionServer> &&
              kIsComInterface<IShareSessionChannel> && kIsComInterface<IShareSessionMessage> &&
              kIsComInterface<ISettingsStore> && kIsComInterface<ISettingsSection> &&
              kIsComInterface<IZQBlogResultSink> && kIsComInterface<IZQBlogFailureSink>);
// IZQBlog and IZQBlogOperation begin with IZQCPPlugin's three slots; the XML package
// begins with IPackage's.
static_assert(std::is_base_of_v<IZQCPPlugin, IZQBlog>);
static_assert(std::is_base_of_v<IZQCPPlugin, IZQBlogOperation>);
static_assert(std::is_base_of_v<IPackage, IXMLPackage>);

// ---------------------------------------------------------------- CountedString

static_assert(std::is_standard_layout_v<CountedString> &&
              std::is_trivially_copyable_v<CountedString>);
static_assert(offsetof(CountedString, length) == 0);
static_assert(offsetof(CountedString, text) == sizeof(void*));
static_assert(sizeof(CountedString) == 2 * sizeof(void*));
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(CountedString) == 8, "two 32-bit words on 32-bit Windows");
#endif

// ---------------------------------------------------------------- ids

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" as a GUID.
GUID ParseGuid(const char* text) {
  unsigned long data1 = 0;
  unsigned int data2 = 0, data3 = 0, b[8] = {};
  int fields = std::sscanf(text, "{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &data1, &data2,
                           &data3, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7]);
  EXPECT_EQ(fields, 11) << text;
  GUID guid{};
  guid.Data1 = static_cast<decltype(guid.Data1)>(data1);
  guid.Data2 = static_cast<decltype(guid.Data2)>(data2);
  guid.Data3 = static_cast<decltype(guid.Data3)>(data3);
  for (int i = 0; i < 8; ++i) guid.Data4[i] = static_cast<unsigned char>(b[i]);
  return guid;
}

std::string GuidText(const GUID& g) {
  char text[64];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(g.Data1), static_cast<unsigned>(g.Data2),
                static_cast<unsigned>(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

TEST(InterfaceIdsTest, FixedIdsAreTheOnesTheHostKnows) {
  struct Fixed {
    const char* name;
    const IID& iid;
    const char* text;
  };
  const Fixed fixed[] = {
      {"IZQBlog", IidOf<IZQBlog>(), "{6A0B4876-C06E-445C-B91D-8509E09D7F42}"},
      {"IZQBlogOperation", IidOf<IZQBlogOperation>(), "{E0A422A1-8F44-4849-8978-4EFB997499E1}"},
      {"IWorkshopCmd", IidOf<IWorkshopCmd>(), "{6E1A1B7F-C0AB-4DA9-BE3F-5DAE559AF373}"},
      {"IBaseShareSessionCmd", IidOf<IBaseShareSessionCmd>(),
       "{3087D49B-F8F7-4504-9F97-6E8C3100962E}"},
      {"IOnRecvShareSessionOperationEvent", IidOf<IOnRecvShareSessionOperationEvent>(),
       "{98169A33-9113-4F3B-B913-74F3122888F5}"},
      {"IZQAlbumInfo", IidOf<IZQAlbumInfo>(), "{CE930CA0-794B-43F3-B4C0-44C9333A7F7B}"},
      {"IZQAlbumListInfo", IidOf<IZQAlbumListInfo>(), "{4F80D26A-5EE7-4EED-A8CF-D2CAB94A9771}"},
      {"IZQResInfo", IidOf<IZQResInfo>(), "{D5ED7205-4933-41D4-B1F0-250BD187E4EF}"},
      {"IResultOnAlbum", IidOf<IResultOnAlbum>(), "{BE71A80F-9666-4C55-9CB8-9EEE5C0D40F7}"},
      {"IResultOnResource", IidOf<IResultOnResource>(), "{1BF009AA-25A1-4CF0-8D75-73C9FFC630FE}"},
      {"IResultOnBatchOperation", IidOf<IResultOnBatchOperation>(),
       "{AC4FF167-B9B0-4778-B37B-103FB378F6F7}"},
      {"IResultOnResComment", IidOf<IResultOnResComment>(),
       "{2DCAAFE8-52A3-40DE-B769-67B86FA080A2}"},
      {"IPackage", IidOf<IPackage>(), "{E22DB0FB-A4FE-42BF-9CAE-8D01964D47B6}"},
      {"IPackageParser", IidOf<IPackageParser>(), "{8D7BB326-63AE-4146-BBE7-C7855D8AB3B1}"},
      {"IStringSetter", IidOf<IStringSetter>(), "{83A323B1-3B99-496F-91BE-5786FC213443}"},
  };
  for (const Fixed& f : fixed) {
    EXPECT_TRUE(ZqEqualIID(f.iid, ParseGuid(f.text)))
        << f.name << " is " << GuidText(f.iid) << ", expected " << f.text;
  }
  // IidOf and the IID_ constant name the same id.
  EXPECT_EQ(&IidOf<IZQBlog>(), &IID_IZQBlog);
  EXPECT_EQ(&IidOf<IXMLPackage>(), &IID_IXMLPackage);
}

TEST(InterfaceIdsTest, EveryIdIsDistinctAndNotIUnknowns) {
  const std::vector<std::pair<const char*, const IID*>> ids = {
#define ZQ_ID(I) {#I, &IidOf<I>()}
      ZQ_ID(IZQCPPlugin), ZQ_ID(IZQBlog), ZQ_ID(IZQBlogOperation), ZQ_ID(IWorkshopCmd),
      ZQ_ID(ICmdEvent), ZQ_ID(IHttpConnectionClientEvents), ZQ_ID(IBaseShareSessionCmd),
      ZQ_ID(IOnRecvShareSessionOperationEvent), ZQ_ID(IOnRecvShareSessionMsg),
      ZQ_ID(IZQCPPlatform), ZQ_ID(IZQCPPluginRegistry), ZQ_ID(IZQCPCommandWorkshop),
      ZQ_ID(IHttpConnectionFactory), ZQ_ID(IHttpConnection), ZQ_ID(IHttpRequest),
      ZQ_ID(IHttpBuffer), ZQ_ID(IHttpReplyHeaders), ZQ_ID(IXMLPackage), ZQ_ID(IXMLNode),
      ZQ_ID(IShareSessionManager), ZQ_ID(IShareSessionServer), ZQ_ID(IShareSessionChannel),
      ZQ_ID(IShareSessionMessage), ZQ_ID(ISettingsStore), ZQ_ID(ISettingsSection),
      ZQ_ID(IZQBlogResultSink), ZQ_ID(IZQBlogFailureSink), ZQ_ID(IZQAlbumInfo),
      ZQ_ID(IZQAlbumListInfo), ZQ_ID(IZQResInfo), ZQ_ID(ICommonResult), ZQ_ID(IResultOnAlbum),
      ZQ_ID(IResultOnResource), ZQ_ID(IResultOnBatchOperation), ZQ_ID(IResultOnResComment),
      ZQ_ID(IPackage), ZQ_ID(IPackageParser), ZQ_ID(IStringSetter),
#undef ZQ_ID
  };
  std::set<std::string> seen;
  for (const auto& [name, iid] : ids) {
    EXPECT_FALSE(ZqEqualIID(*iid, IID_IUnknown)) << name;
    EXPECT_TRUE(seen.insert(GuidText(*iid)).second) << name << " repeats " << GuidText(*iid);
  }
  // Neither the library's AppID nor its type library id is taken by an interface.
  EXPECT_EQ(seen.count("{BB667777-FF8C-4506-9C69-8CB46480C1C1}"), 0u);
  EXPECT_EQ(seen.count("{CD44241E-2229-4606-9214-C93EF11A3A0C}"), 0u);
}

// ---------------------------------------------------------------- slots

#if defined(__GNUC__) && !defined(_MSC_VER)
// The slot of a virtual member function, counted from 1 after IUnknown's Release. With
// GCC and Clang (on x86) a pointer to a virtual member holds 1 + its byte offset in the
// table of virtual functions.
template <class Class, class Function>
int SlotOf(Function Class::*member) {
  struct Representation {
    uintptr_t pointer;
    ptrdiff_t adjustment;
  };
  static_assert(sizeof(member) == sizeof(Representation));
  Representation r;
  std::memcpy(&r, &member, sizeof r);
  if ((r.pointer & 1) == 0) return -100;  // not virtual
  EXPECT_EQ(r.adjustment, 0);
  return static_cast<int>((r.pointer - 1) / sizeof(void*)) - 2;
}

#define EXPECT_SLOT(Interface, Method, slot) \
  EXPECT_EQ(SlotOf(&Interface::Method), slot) << #Interface "::" #Method

TEST(InterfaceSlotsTest, LibraryInterfaces) {
  EXPECT_SLOT(IZQCPPlugin, Initialize, 1);
  EXPECT_SLOT(IZQCPPlugin, Uninitialize, 2);
  EXPECT_SLOT(IZQCPPlugin, GetPluginName, 3);

  EXPECT_SLOT(IZQBlog, Initialize, 1);
  EXPECT_SLOT(IZQBlog, GetPluginName, 3);
  EXPECT_SLOT(IZQBlog, GetAlbumInfo, 4);
  EXPECT_SLOT(IZQBlog, GetResourceInfo, 5);
  EXPECT_SLOT(IZQBlog, GetAlbumListInfo, 6);
  EXPECT_SLOT(IZQBlog, IsResourceListLoaded, 7);
  EXPECT_SLOT(IZQBlog, IsBlogOpened, 8);
  EXPECT_SLOT(IZQBlog, GetCidDatUrl, 9);
  EXPECT_SLOT(IZQBlog, GetAlbumsByCid, 10);
  EXPECT_SLOT(IZQBlog, GetCommandResult, 11);
  EXPECT_SLOT(IZQBlog, GetCidValue, 12);
  EXPECT_SLOT(IZQBlog, SetCurrentUser, 13);
  EXPECT_SLOT(IZQBlog, ClearSession, 14);
  EXPECT_SLOT(IZQBlog, AdviseResultSink, 15);
  EXPECT_SLOT(IZQBlog, UnadviseResultSink, 16);
  EXPECT_SLOT(IZQBlog, AdviseFailureSink, 17);
  EXPECT_SLOT(IZQBlog, UnadviseFailureSink, 18);

  EXPECT_SLOT(IZQBlogOperation, Uninitialize, 2);
  EXPECT_SLOT(IZQBlogOperation, RefreshBlogServerInfo, 4);
  EXPECT_SLOT(IZQBlogOperation, GetCidDat, 5);
  EXPECT_SLOT(IZQBlogOperation, GetAlbumList, 6);
  EXPECT_SLOT(IZQBlogOperation, GetResourceList, 7);
  EXPECT_SLOT(IZQBlogOperation, BatchCollect, 8);
  EXPECT_SLOT(IZQBlogOperation, BatchRemove, 9);
  EXPECT_SLOT(IZQBlogOperation, CreateAlbum, 10);
  EXPECT_SLOT(IZQBlogOperation, ModifyAlbum, 11);
  EXPECT_SLOT(IZQBlogOperation, ModifyResource, 12);
  EXPECT_SLOT(IZQBlogOperation, MoveResource, 13);
  EXPECT_SLOT(IZQBlogOperation, CopyResource, 14);
  EXPECT_SLOT(IZQBlogOperation, RemoveAlbum, 15);
  EXPECT_SLOT(IZQBlogOperation, RefreshResComment, 16);

  EXPECT_SLOT(IWorkshopCmd, AddEventSink, 1);
  EXPECT_SLOT(IWorkshopCmd, GetState, 2);
  EXPECT_SLOT(IWorkshopCmd, SetState, 3);
  EXPECT_SLOT(IWorkshopCmd, Reserved1, 4);
  EXPECT_SLOT(IWorkshopCmd, Reserved2, 5);
  EXPECT_SLOT(IWorkshopCmd, Start, 6);
  EXPECT_SLOT(IWorkshopCmd, Step, 7);
  EXPECT_SLOT(IWorkshopCmd, Reserved3, 8);
  EXPECT_SLOT(IWorkshopCmd, Reserved4, 9);
  EXPECT_SLOT(IWorkshopCmd, GetDescription, 10);

  EXPECT_SLOT(ICmdEvent, OnStateChanged, 1);

  EXPECT_SLOT(IHttpConnectionClientEvents, OnConnect, 1);
  EXPECT_SLOT(IHttpConnectionClientEvents, OnSendComplete, 2);
  EXPECT_SLOT(IHttpConnectionClientEvents, OnHeaders, 3);
  EXPECT_SLOT(IHttpConnectionClientEvents, OnData, 4);
  EXPECT_SLOT(IHttpConnectionClientEvents, OnComplete, 5);

  EXPECT_SLOT(IBaseShareSessionCmd, SetOperationMessage, 1);
  EXPECT_SLOT(IOnRecvShareSessionOperationEvent, OnRecvOperation, 1);
  EXPECT_SLOT(IOnRecvShareSessionOperationEvent, OnRecvOperationResult, 2);
  EXPECT_SLOT(IOnRecvShareSessionMsg, OnRecvShareSessionMsg, 1);

  EXPECT_SLOT(IPackage, SetData, 1);
  EXPECT_SLOT(IPackageParser, Reset, 1);
  EXPECT_SLOT(IPackageParser, Parse, 2);
  EXPECT_SLOT(IPackageParser, GetPackageCount, 3);
  EXPECT_SLOT(IPackageParser, GetPackage, 4);
  EXPECT_SLOT(IStringSetter, SetString, 1);
}

TEST(InterfaceSlotsTest, PlatformRegistryAndWorkshop) {
  EXPECT_SLOT(IZQCPPlatform, Reserved1, 1);
  EXPECT_SLOT(IZQCPPlatform, Reserved3, 3);
  EXPECT_SLOT(IZQCPPlatform, GetPluginRegistry, 4);
  EXPECT_SLOT(IZQCPPlatform, GetCommandWorkshop, 5);
  EXPECT_SLOT(IZQCPPlatform, Reserved8, 8);
  EXPECT_SLOT(IZQCPPlatform, GetHttpConnectionFactory, 9);
  EXPECT_SLOT(IZQCPPlatform, GetShareSessionManager, 10);
  EXPECT_SLOT(IZQCPPlatform, Reserved11, 11);
  EXPECT_SLOT(IZQCPPlatform, GetSettingsStore, 12);
  EXPECT_SLOT(IZQCPPlatform, CreateObjectByName, 13);

  EXPECT_SLOT(IZQCPPluginRegistry, Reserved5, 5);
  EXPECT_SLOT(IZQCPPluginRegistry, RegisterPlugin, 6);
  EXPECT_SLOT(IZQCPCommandWorkshop, Reserved4, 4);
  EXPECT_SLOT(IZQCPCommandWorkshop, AddCommand, 5);

  EXPECT_SLOT(IZQBlogResultSink, OnResultReady, 1);
  EXPECT_SLOT(IZQBlogFailureSink, OnFailure, 1);
}

TEST(InterfaceSlotsTest, HttpService) {
  EXPECT_SLOT(IHttpConnectionFactory, CreateConnection, 2);
  EXPECT_SLOT(IHttpConnectionFactory, CreateRequest, 4);
  EXPECT_SLOT(IHttpConnectionFactory, CreateBuffer, 6);

  EXPECT_SLOT(IHttpConnection, Advise, 1);
  EXPECT_SLOT(IHttpConnection, Unadvise, 2);
  EXPECT_SLOT(IHttpConnection, SetServer, 3);
  EXPECT_SLOT(IHttpConnection, Reserved4, 4);
  EXPECT_SLOT(IHttpConnection, Open, 5);
  EXPECT_SLOT(IHttpConnection, Send, 6);
  EXPECT_SLOT(IHttpConnection, Continue, 7);
  EXPECT_SLOT(IHttpConnection, Close, 8);

  EXPECT_SLOT(IHttpRequest, AddHeader, 3);
  EXPECT_SLOT(IHttpBuffer, SetData, 1);
  EXPECT_SLOT(IHttpBuffer, GetData, 3);
  EXPECT_SLOT(IHttpReplyHeaders, GetStatusCode, 1);
  EXPECT_SLOT(IHttpReplyHeaders, GetHeader, 2);

  // The XML package keeps IPackage's SetData in slot 1 and adds its own after it.
  EXPECT_SLOT(IXMLPackage, SetData, 1);
  EXPECT_SLOT(IXMLPackage, GetRoot, 2);
  EXPECT_SLOT(IXMLPackage, Serialize, 3);
  EXPECT_SLOT(IXMLPackage, GetValue, 4);
  EXPECT_SLOT(IXMLPackage, GetElementText, 5);
  EXPECT_SLOT(IXMLPackage, GetItemCount, 6);
  EXPECT_SLOT(IXMLPackage, GetItem, 7);
  EXPECT_SLOT(IXMLNode, GetValue, 1);
  EXPECT_SLOT(IXMLNode, GetElementText, 2);
  EXPECT_SLOT(IXMLNode, GetText, 3);
  EXPECT_SLOT(IXMLNode, GetChildCount, 4);
  EXPECT_SLOT(IXMLNode, GetChild, 5);
  EXPECT_SLOT(IXMLNode, GetNamedChild, 6);
}

TEST(InterfaceSlotsTest, ShareSessionAndSettings) {
  EXPECT_SLOT(IShareSessionManager, GetRole, 2);
  EXPECT_SLOT(IShareSessionManager, Reserved6, 6);
  EXPECT_SLOT(IShareSessionManager, RegisterModule, 7);
  EXPECT_SLOT(IShareSessionManager, GetModuleServer, 8);
  EXPECT_SLOT(IShareSessionManager, GetModuleChannel, 9);

  EXPECT_SLOT(IShareSessionServer, Reserved5, 5);
  EXPECT_SLOT(IShareSessionServer, AttachOperationHandler, 6);
  EXPECT_SLOT(IShareSessionServer, CreateResultMessage, 7);
  EXPECT_SLOT(IShareSessionServer, PublishData, 8);
  EXPECT_SLOT(IShareSessionServer, PublishNotice, 9);

  EXPECT_SLOT(IShareSessionChannel, BeginReadMessage, 3);
  EXPECT_SLOT(IShareSessionChannel, GetMessagePayload, 4);
  EXPECT_SLOT(IShareSessionChannel, EndReadMessage, 5);
  EXPECT_SLOT(IShareSessionChannel, AttachMessageSink, 6);
  EXPECT_SLOT(IShareSessionChannel, Reserved7, 7);
  EXPECT_SLOT(IShareSessionChannel, AttachResultSink, 8);
  EXPECT_SLOT(IShareSessionChannel, DetachResultSink, 9);
  EXPECT_SLOT(IShareSessionChannel, CreateOperationMessage, 10);
  EXPECT_SLOT(IShareSessionChannel, SendOperationMessage, 11);

  EXPECT_SLOT(IShareSessionMessage, GetId, 2);
  EXPECT_SLOT(IShareSessionMessage, Reserved4, 4);
  EXPECT_SLOT(IShareSessionMessage, GetName, 5);
  EXPECT_SLOT(IShareSessionMessage, SetName, 6);
  EXPECT_SLOT(IShareSessionMessage, SetPayloadSize, 7);
  EXPECT_SLOT(IShareSessionMessage, GetPayload, 8);

  EXPECT_SLOT(ISettingsStore, CreateSection, 2);
  EXPECT_SLOT(ISettingsStore, Reserved3, 3);
  EXPECT_SLOT(ISettingsStore, OpenSection, 4);
  EXPECT_SLOT(ISettingsSection, WriteValue, 1);
  EXPECT_SLOT(ISettingsSection, ReadValue, 2);
}
#endif  // __GNUC__

// ---------------------------------------------------------------- counted strings

// Not on 64-bit Windows, whose calls pass a 16-byte struct by reference: the form is
// that of 32-bit Windows (and holds on 64-bit Linux too).
#if !defined(_WIN64)
// A request whose header operation takes the two words of each text as four separate
// arguments: what a host built without CountedString would declare.
struct WordsRequest {
  virtual HRESULT STDMETHODCALLTYPE AddHeader(int32_t nameLength, const char* name,
                                              int32_t valueLength, const char* value) {
    seen = std::string(name, static_cast<size_t>(nameLength)) + "|" +
           std::string(value, static_cast<size_t>(valueLength));
    return S_OK;
  }
  std::string seen;
};

// Calls the words version through its table entry with two CountedStrings, as the
// plug-in calls a host's request. The function types differ on purpose: the call is
// the calling-convention check itself.
#if defined(__clang__)
__attribute__((no_sanitize("function")))
#endif
HRESULT CallWithCountedStrings(WordsRequest* request, CountedString name,
                               CountedString value) {
  typedef HRESULT(STDMETHODCALLTYPE * CountedAddHeader)(void* self, CountedString name,
                                                         CountedString value);
  void** table = *reinterpret_cast<void***>(request);
  // Hide the target from the optimizer, as the library boundary does.
  void* volatile entry = table[0];
  CountedAddHeader addHeader = reinterpret_cast<CountedAddHeader>(entry);
  return addHeader(request, name, value);
}

TEST(CountedStringTest, PassesAsLengthThenPointer) {
  WordsRequest request;
  const char text[] = "Content-Typeapplication/x-www-form-urlencoded";
  EXPECT_EQ(CallWithCountedStrings(&request, CountedString{12, text},
                                   CountedString{33, text + 12}),
            S_OK);
  EXPECT_EQ(request.seen, "Content-Type|application/x-www-form-urlencoded");
}
#endif  // !_WIN64

TEST(CountedStringTest, MakeCountedString) {
  const char* host = "blog.velmora.cn";
  CountedString counted = MakeCountedString(host);
  EXPECT_EQ(counted.length, 15);
  EXPECT_EQ(counted.text, host);

  CountedString missing = MakeCountedString(nullptr);
  EXPECT_EQ(missing.length, 0);
  ASSERT_NE(missing.text, nullptr);
  EXPECT_STREQ(missing.text, "");

  EXPECT_EQ(MakeCountedString("").length, 0);
}

// ---------------------------------------------------------------- helper library

static_assert(std::is_same_v<PFN_ZQ_GetUserPath, PFN_ZQ_GetPluginPath> &&
              std::is_same_v<PFN_ZQ_GetUserPath, PFN_ZQ_GetKorrinNetworkPath> &&
              std::is_same_v<PFN_ZQ_GetUserPath, PFN_ZQ_GetComponentsPath> &&
              std::is_same_v<PFN_ZQ_GetUserPath, PFN_ZQ_GetInstallComponentsPath> &&
              std::is_same_v<PFN_ZQ_GetUserPath, PFN_ZQ_GetUserProfilesPath> &&
              std::is_same_v<PFN_ZQ_GetUserPath, PFN_ZQ_GetSkinPath> &&
              std::is_same_v<PFN_ZQ_GetUserPath, PFN_ZQ_GetConstantSkinPath> &&
              std::is_same_v<PFN_ZQ_GetUserPath, PFN_ZQ_GetProgramPath> &&
              std::is_same_v<PFN_ZQ_GetUserPath, PFN_ZQ_GetLanguagePath> &&
              std::is_same_v<PFN_ZQ_GetUserPath, PFN_ZQ_GetUserRootPath>);

TEST(ElvatrixExportsTest, ElevenDistinctPathExportsUserPathFirst) {
  std::set<std::string> names;
  for (const char* name : kElvatrixExportNames) {
    ASSERT_NE(name, nullptr);
    std::string text(name);
    EXPECT_EQ(text.rfind("ZQ_Get", 0), 0u) << text;
    EXPECT_EQ(text.substr(text.size() - 4), "Path") << text;
    names.insert(text);
  }
  EXPECT_EQ(names.size(), 11u);
  EXPECT_STREQ(kElvatrixExportNames[0], "ZQ_GetUserPath");
  EXPECT_STREQ(kElvatrixExportNames[10], "ZQ_GetPluginPath");
  EXPECT_EQ(std::wstring(kElvatrixModuleName), L"Elvatrix.dll");
}

}  // namespace
