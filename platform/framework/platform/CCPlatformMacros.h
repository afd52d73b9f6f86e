// Namespace and object-creation macros of the framework layer.
//
// The program is written against these spellings (USING_NS_CC, CREATE_FUNC, CC_CALLBACK_n,
// CC_SAFE_*), so they keep their familiar shapes. Everything here is header-only.
#pragma once

#include <functional>

#define NS_CC_BEGIN namespace cocos2d {
#define NS_CC_END }
#define USING_NS_CC using namespace cocos2d
#define NS_CC ::cocos2d

// A static create() that allocates, runs the virtual init() and autoreleases; on a failed
// init the object is deleted and null is returned.
#define CREATE_FUNC(__TYPE__)                                                                      \
    static __TYPE__* create()                                                                      \
    {                                                                                              \
        __TYPE__* pRet = new (std::nothrow) __TYPE__();                                            \
        if (pRet && pRet->init()) {                                                                \
            pRet->autorelease();                                                                   \
            return pRet;                                                                           \
        }                                                                                          \
        delete pRet;                                                                               \
        return nullptr;                                                                            \
    }

// Member-function binders: the object pointer is captured, so the caller keeps it alive.
#define CC_CALLBACK_0(__selector__, __target__, ...) std::bind(&__selector__, __target__, ##__VA_ARGS__)
#define CC_CALLBACK_1(__selector__, __target__, ...)                                               \
    std::bind(&__selector__, __target__, std::placeholders::_1, ##__VA_ARGS__)
#define CC_CALLBACK_2(__selector__, __target__, ...)                                               \
    std::bind(&__selector__, __target__, std::placeholders::_1, std::placeholders::_2, ##__VA_ARGS__)
#define CC_CALLBACK_3(__selector__, __target__, ...)                                               \
    std::bind(&__selector__, __target__, std::placeholders::_1, std::placeholders::_2,              \
              std::placeholders::_3, ##__VA_ARGS__)

#define CC_SAFE_DELETE(p)                                                                          \
    do {                                                                                           \
        delete (p);                                                                                \
        (p) = nullptr;                                                                             \
    } while (0)
#define CC_SAFE_DELETE_ARRAY(p)                                                                    \
    do {                                                                                           \
        delete[] (p);                                                                              \
        (p) = nullptr;                                                                             \
    } while (0)
#define CC_SAFE_FREE(p)                                                                            \
    do {                                                                                           \
        if (p) {                                                                                   \
            free(p);                                                                               \
            (p) = nullptr;                                                                         \
        }                                                                                          \
    } while (0)
#define CC_SAFE_RELEASE(p)                                                                         \
    do {                                                                                           \
        if (p) {                                                                                   \
            (p)->release();                                                                        \
        }                                                                                          \
    } while (0)
#define CC_SAFE_RELEASE_NULL(p)                                                                    \
    do {                                                                                           \
        if (p) {                                                                                   \
            (p)->release();                                                                        \
            (p) = nullptr;                                                                         \
        }                                                                                          \
    } while (0)
#define CC_SAFE_RETAIN(p)                                                                          \
    do {                                                                                           \
        if (p) {                                                                                   \
            (p)->retain();                                                                         \
        }                                                                                          \
    } while (0)
#define CC_BREAK_IF(cond)                                                                          \
    if (cond)                                                                                      \
    break

// Property helpers used by classes that expose a protected member with a getter/setter pair.
#define CC_SYNTHESIZE(varType, varName, funName)                                                   \
protected:                                                                                         \
    varType varName;                                                                               \
                                                                                                   \
public:                                                                                            \
    virtual varType get##funName() const { return varName; }                                       \
    virtual void set##funName(varType var) { varName = var; }

#define CC_DEPRECATED_ATTRIBUTE [[deprecated]]
#define CC_DLL
#define CC_UNUSED_PARAM(unusedparam) (void)unusedparam

#if defined(__GNUC__)
#define CC_FORMAT_PRINTF(formatPos, argPos) __attribute__((__format__(printf, formatPos, argPos)))
#else
#define CC_FORMAT_PRINTF(formatPos, argPos)
#endif
