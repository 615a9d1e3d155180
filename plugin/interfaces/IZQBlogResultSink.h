// IZQBlogResultSink: the host's listener for finished commands. The plug-in calls it
// once a command has filed its result object; the host then fetches the object with
// IZQBlog::GetCommandResult (which it may do from inside the call, on the same thread).
// Host-side interface; its name and id are ours.
#ifndef ZQBLOG_INTERFACES_IZQBLOGRESULTSINK_H_
#define ZQBLOG_INTERFACES_IZQBLOGRESULTSINK_H_

#include "platform/platform.h"

struct IZQBlogResultSink : public IUnknown {
  // 1. The result of commandId is ready; resultKind: 0 album, 1 resource, 2 batch,
  //    3 comment result. The plug-in ignores the answer.
  STDMETHOD(OnResultReady)(int commandId, int resultKind) = 0;
};

// {AF4C76B1-BD1B-4EBC-8547-DF758CF7F0B5}
ZQ_DEFINE_IID(IZQBlogResultSink, 0xAF4C76B1, 0xBD1B, 0x4EBC, 0x85, 0x47, 0xDF, 0x75, 0x8C,
              0xF7, 0xF0, 0xB5)

#endif  // ZQBLOG_INTERFACES_IZQBLOGRESULTSINK_H_
