#include "OCISessions.h"

#include <algorithm>

std::string SessionLabel(const std::string& user, const std::string& connect, const std::string& driver)
{
    std::string label = user + "@" + connect;
    if (!driver.empty())
        label += " (" + driver + ")";
    return label;
}

const TOCISessions::TAuth* TOCISessions::FindAuth(TAddress handle) const
{
    auto it = FAuths.find(handle);
    return it == FAuths.end() ? nullptr : &it->second;
}

const TOCISessions::TPool* TOCISessions::FindPool(const std::string& name) const
{
    auto it = FPools.find(name);
    return it == FPools.end() ? nullptr : &it->second;
}

void TOCISessions::ServerAttached(TAddress server, const std::string& connect) { FServers[server] = connect; }

void TOCISessions::UserSet(TAddress session, const std::string& user) { FAuths[session].User = user; }

void TOCISessions::DriverSet(TAddress session, const std::string& driver) { FAuths[session].Driver = driver; }

void TOCISessions::ServerSet(TAddress svc, TAddress server) { FSvcs[svc].Server = server; }

void TOCISessions::SessionSet(TAddress svc, TAddress session)
{
    TSvc& context = FSvcs[svc];
    context.Session = session;
    const TAuth* auth = session ? FindAuth(session) : nullptr;
    context.Label = auth ? auth->Label : std::string();
}

void TOCISessions::PoolAuthSet(TAddress pool, TAddress auth) { FPoolAuths[pool] = auth; }

void TOCISessions::PoolCreated(TAddress pool, const std::string& name, const std::string& user,
                               const std::string& connect)
{
    FPools[name] = TPool{pool, user, connect};
}

std::string TOCISessions::BeginLabel(TAddress svc, TAddress session, bool external) const
{
    std::string connect;
    auto context = FSvcs.find(svc);
    if (context != FSvcs.end()) {
        auto server = FServers.find(context->second.Server);
        if (server != FServers.end())
            connect = server->second;
    }
    const TAuth* auth = FindAuth(session);
    return SessionLabel(auth && !external ? auth->User : std::string(), connect, auth ? auth->Driver : std::string());
}

void TOCISessions::AddPoolParts(const std::string& name, std::string& user, std::string& connect,
                                std::string& driver) const
{
    // A pool nobody saw created gives no connect string: its name is none.
    const TPool* pool = FindPool(name);
    connect = pool ? pool->Connect : std::string();
    if (!pool)
        return;
    auto poolAuth = FPoolAuths.find(pool->Handle);
    const TAuth* shared = poolAuth != FPoolAuths.end() ? FindAuth(poolAuth->second) : nullptr;
    if (user.empty())
        user = pool->User;
    if (user.empty() && shared)
        user = shared->User;
    if (driver.empty() && shared)
        driver = shared->Driver;
}

std::string TOCISessions::GetLabel(TAddress auth, const std::string& dbName, bool pooled, bool external) const
{
    const TAuth* own = auth ? FindAuth(auth) : nullptr;
    std::string user = own ? own->User : std::string();
    std::string driver = own ? own->Driver : std::string();
    std::string connect = dbName;
    if (pooled)
        AddPoolParts(dbName, user, connect, driver);
    return SessionLabel(external ? std::string() : user, connect, driver);
}

std::string TOCISessions::LogonLabel(const std::string& user, const std::string& dbName, bool pooled) const
{
    std::string named = user, connect = dbName, driver;
    if (pooled)
        AddPoolParts(dbName, named, connect, driver);
    return SessionLabel(named, connect, driver);
}

void TOCISessions::Connected(TAddress svc, TAddress session, const std::string& label)
{
    TSvc& context = FSvcs[svc];
    context.Label = label;
    if (!session)
        return;
    context.Session = session;
    TAuth& auth = FAuths[session];
    auth.Label = label;
}

std::string TOCISessions::Label(TAddress svc) const
{
    auto context = FSvcs.find(svc);
    return context != FSvcs.end() ? context->second.Label : std::string();
}

std::string TOCISessions::EndLabel(TAddress svc, TAddress session) const
{
    const TAuth* auth = session ? FindAuth(session) : nullptr;
    return auth && !auth->Label.empty() ? auth->Label : Label(svc);
}

void TOCISessions::Disconnected(TAddress svc, TAddress session)
{
    auto context = FSvcs.find(svc);
    if (!session && context != FSvcs.end())
        session = context->second.Session;
    if (context != FSvcs.end())
        context->second.Label.clear();
    if (!session)
        return;
    auto auth = FAuths.find(session);
    if (auth != FAuths.end())
        auth->second.Label.clear();
    // Other contexts the program switched onto the session lose it too.
    for (auto& [handle, other] : FSvcs)
        if (other.Session == session)
            other.Label.clear();
}

void TOCISessions::Forget(TAddress handle)
{
    bool server = FServers.erase(handle) != 0;
    bool session = FAuths.erase(handle) != 0;
    FSvcs.erase(handle);
    if (server || session)
        for (auto& [address, context] : FSvcs) {
            if (context.Server == handle)
                context.Server = 0;
            if (context.Session == handle)
                context.Session = 0;
        }
    FPoolAuths.erase(handle);
    if (!FPools.empty())
        for (auto it = FPools.begin(); it != FPools.end();)
            it = it->second.Handle == handle ? FPools.erase(it) : std::next(it);
}

void TSecretMemory::Add(TAddress at, uint64_t size)
{
    if (!at || !size)
        return;
    std::pair<TAddress, TAddress> place{at, at + size < at ? ~TAddress(0) : at + size};
    FPlaces.erase(std::remove(FPlaces.begin(), FPlaces.end(), place), FPlaces.end());
    if (FPlaces.size() == Kept)
        FPlaces.erase(FPlaces.begin());
    FPlaces.push_back(place);
}

bool TSecretMemory::Overlaps(TAddress at, uint64_t size) const
{
    TAddress end = at + size < at ? ~TAddress(0) : at + size;
    return size && std::any_of(FPlaces.begin(), FPlaces.end(),
                               [&](const std::pair<TAddress, TAddress>& p) { return at < p.second && p.first < end; });
}
