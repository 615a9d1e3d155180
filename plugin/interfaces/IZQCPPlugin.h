// IZQCPPlugin: how the host starts a plug-in. IZQBlog and IZQBlogOperation begin with
// these three slots, so either of the plug-in's pointers serves as its IZQCPPlugin.
// Slots are numbered from 1, the first after IUnknown's Release.
#ifndef ZQBLOG_INTERFACES_IZQCPPLUGIN_H_
#define ZQBLOG_INTERFACES_IZQCPPLUGIN_H_

#include "platform/platform.h"

struct IZQCPPlugin : public IUnknown {
  // 1. Start-up with the host's platform object (an IZQCPPlatform); always S_OK.
  STDMETHOD(Initialize)(IUnknown* platform) = 0;
  // 2. Does nothing and reads nothing; S_OK.
  STDMETHOD(Uninitialize)(void* unused) = 0;
  // 3. A new BSTR with the plug-in's name ("Velmora.Community.ZQBlog"); the caller frees it.
  STDMETHOD(GetPluginName)(BSTR* name) = 0;
};

// {5F418C61-7B92-40BF-80FE-BFD8899D2AAC}
// Our own id: the plug-in answers QueryInterface for IZQBlog and IZQBlogOperation only,
// never for this one; it exists so that IidOf<IZQCPPlugin>() is defined.
ZQ_DEFINE_IID(IZQCPPlugin, 0x5F418C61, 0x7B92, 0x40BF, 0x80, 0xFE, 0xBF, 0xD8, 0x89, 0x9D,
              0x2A, 0xAC)

#endif  // ZQBLOG_INTERFACES_IZQCPPLUGIN_H_
