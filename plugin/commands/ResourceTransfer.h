// The changes to the cached albums and the content-id index once the server has
// removed, copied or moved resources of a user. The command that received the reply
// and every process that applies its broadcast make them through these functions, so
// all of them end with the same albums, resources and index.
//
// REQUIRES for every function: the caller holds the session's AlbumListLock (the
// content-id operations take CidLock inside it; ZQ_REQUIRES on those given the
// session), and the albums belong to the session.
#ifndef ZQBLOG_COMMANDS_RESOURCETRANSFER_H_
#define ZQBLOG_COMMANDS_RESOURCETRANSFER_H_

#include <string>
#include <vector>

#include "common/ThreadSafety.h"
#include "data/AlbumInfo.h"
#include "interfaces/IZQResInfo.h"
#include "session/BlogSession.h"

namespace Velmora {
namespace ZQBlog {

// One resource the server copied: the id that was asked for and the id of the copy.
struct CopiedResource {
  int requestedId;
  int newId;
};

// Applies the copies, in order, from source to target (album targetId). For each copy
// whose requested resource source holds, and only when the target's resource list has
// been fetched: the first target resource with the same URL (exact comparison) takes
// over all the source resource's values but keeps its own id; without one, a new
// resource at the front of target gets the values and the id of the copy. Either way
// it gets targetId as its category id. Then, for every copy in order whose requested
// resource source holds, the index gains (its cid, targetId), also when the target's
// list has not been fetched.
// REQUIRES: session, source and target not null.
void ApplyCopiedResources(BlogSession_* session, AlbumInfo* source, AlbumInfo* target,
                          int targetId, const std::vector<CopiedResource>& copies)
    ZQ_REQUIRES(session->AlbumListLock());

// Applies the moves of the resources ids, in order, from source (album sourceId) to
// target (album targetId). For each id source holds:
//   - when the target's resource list has been fetched, the first target resource with
//     the same URL takes over the moved resource's values and keeps its own id; without
//     one, the moved resource object itself goes to the front of target. Either gets
//     targetId as its category id;
//   - the index loses (its cid, sourceId) and source lets the resource go.
// Then the index gains (cid, targetId) for each moved resource that now stands in
// target under its own id, and for each one moved into a target whose list has not
// been fetched: the target holds it on the server although no list shows it here.
// Source and target being the same album changes nothing: the resource stays.
// REQUIRES: session, source and target not null.
void ApplyMovedResources(BlogSession_* session, AlbumInfo* source, int sourceId,
                         AlbumInfo* target, int targetId, const std::vector<int>& ids)
    ZQ_REQUIRES(session->AlbumListLock());

// Removes the resources ids from album (album albumId): first the index loses (cid,
// albumId) for each id album holds; then each id album holds leaves it. An id album
// does not hold (every id of an album whose list was never fetched) is passed over, so
// the album and the index agree on every id afterwards. REQUIRES: session and album
// not null.
void ApplyRemovedResources(BlogSession_* session, AlbumInfo* album, int albumId,
                           const std::vector<int>& ids) ZQ_REQUIRES(session->AlbumListLock());

// Copies every value of from into to through their interfaces, in slot order (the id
// and the category id included).
void CopyResourceValues(IZQResInfo* from, IZQResInfo* to);

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_COMMANDS_RESOURCETRANSFER_H_
