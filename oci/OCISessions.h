// Who a traced program connected as, and where: the label "user@connect (driver)" of
// each of its sessions, pieced together from the calls that name the parts (a server's
// connect string, the user and driver names set on a session or authentication handle,
// a session pool's user and connect string) and carried by each service context from its
// connect to its disconnect. Plain bookkeeping on handle values and UTF-8 texts: the
// tracer reads the calls and hands in what they named. Passwords never come here, only
// where they lie (TSecretMemory).
#pragma once

#include "SysProcs.h"

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// "user@connect", then " (driver)" when the program named itself; unknown parts empty.
std::string SessionLabel(const std::string& user, const std::string& connect, const std::string& driver);

class TOCISessions {
public:
    // OCIServerAttach: what the server connects to. Attached again, it takes the newer.
    void ServerAttached(TAddress server, const std::string& connect);
    // OCIAttrSet of OCI_ATTR_USERNAME / OCI_ATTR_DRIVER_NAME on a session or an
    // authentication handle (the two are one kind of handle).
    void UserSet(TAddress session, const std::string& user);
    void DriverSet(TAddress session, const std::string& driver);
    // OCIAttrSet of OCI_ATTR_SERVER / OCI_ATTR_SESSION on a service context. A session
    // already begun brings its label along; no session (0) leaves the context without one.
    void ServerSet(TAddress svc, TAddress server);
    void SessionSet(TAddress svc, TAddress session);
    // OCIAttrSet of OCI_ATTR_SPOOL_AUTH: the authentication handle of a session pool.
    void PoolAuthSet(TAddress pool, TAddress auth);
    // OCISessionPoolCreate has returned the pool's name.
    void PoolCreated(TAddress pool, const std::string& name, const std::string& user, const std::string& connect);

    // The label of a connect, from what is known when its call is made:
    // OCISessionBegin of session on svc; external credentials name no user.
    std::string BeginLabel(TAddress svc, TAddress session, bool external) const;
    // OCISessionGet with the authentication handle auth (0 for none) of dbName: a connect
    // string, or the name of a session pool when pooled. A user on auth wins over the pool's.
    std::string GetLabel(TAddress auth, const std::string& dbName, bool pooled, bool external) const;
    // OCILogon, OCILogon2: the user and database the call names.
    std::string LogonLabel(const std::string& user, const std::string& dbName, bool pooled) const;

    // A connect succeeded: svc carries label until it is disconnected; session is the
    // session begun on it (0 when the call hands out a context of its own).
    void Connected(TAddress svc, TAddress session, const std::string& label);
    // The label of the session svc belongs to; "" when that is not known.
    std::string Label(TAddress svc) const;
    // The label of a disconnect of session (0: svc's own) through svc.
    std::string EndLabel(TAddress svc, TAddress session) const;
    // A disconnect succeeded: no context keeps the session's label.
    void Disconnected(TAddress svc, TAddress session);

    // OCIHandleFree of any handle.
    void Forget(TAddress handle);

private:
    struct TAuth {
        std::string User;
        std::string Driver;
        std::string Label;  // while begun, else empty
    };
    struct TSvc {
        TAddress Server = 0;
        TAddress Session = 0;
        std::string Label;  // while connected, else empty
    };
    struct TPool {
        TAddress Handle = 0;
        std::string User;
        std::string Connect;
    };

    const TAuth* FindAuth(TAddress handle) const;
    const TPool* FindPool(const std::string& name) const;
    // The parts a session of the pool named name takes from it where its own are empty.
    void AddPoolParts(const std::string& name, std::string& user, std::string& connect, std::string& driver) const;

    std::unordered_map<TAddress, std::string> FServers;
    std::unordered_map<TAddress, TAuth> FAuths;
    std::unordered_map<TAddress, TSvc> FSvcs;
    // Pools by name, and the authentication handle of each pool handle.
    std::unordered_map<std::string, TPool> FPools;
    std::unordered_map<TAddress, TAddress> FPoolAuths;
};

// Where a program keeps the passwords it hands over (OCI_ATTR_PASSWORD, the logon and
// pool calls' password arguments): address and size, never a byte. Whatever else the
// tracer reads there (a bound value, an error text) is not shown. The program may free
// that memory at once and use it again for anything: only the most recent places are
// kept, so that a buffer that once held a password hides no value for long.
class TSecretMemory {
public:
    static constexpr size_t Kept = 8;
    void Add(TAddress at, uint64_t size);
    // Whether [at, at + size) shares a byte with a password's place.
    bool Overlaps(TAddress at, uint64_t size) const;

private:
    // [first, second), oldest first.
    std::vector<std::pair<TAddress, TAddress>> FPlaces;
};
