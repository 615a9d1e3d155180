// Resource ids of the library (ZQBlog.rc).
#ifndef ZQBLOG_MODULE_RESOURCE_H_
#define ZQBLOG_MODULE_RESOURCE_H_

#define IDS_PROJNAME 100
#define IDR_ZQBLOG 101

#endif  // ZQBLOG_MODULE_RESOURCE_H_
