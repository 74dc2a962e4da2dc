// The labels of sessions, from the calls that name their parts, in the orders client
// libraries make them, and as programs reuse their handles.
#include "OCISessions.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr TAddress Server = 0x10, Svc = 0x20, Session = 0x30, Auth = 0x40, Pool = 0x50, PoolAuth = 0x60, Svc2 = 0x70;

// A standalone session as the reference's first library makes it, up to the begin.
void OdpiSetUp(TOCISessions& s)
{
    s.ServerAttached(Server, "localhost/orclpdb");
    s.ServerSet(Svc, Server);
    s.DriverSet(Session, "ODPI-C : 6.0.0");
    s.UserSet(Session, "scott");
    s.SessionSet(Svc, Session);
}

// Begins Session on Svc as a successful OCISessionBegin does; the label it had.
std::string Begin(TOCISessions& s, bool external = false)
{
    std::string label = s.BeginLabel(Svc, Session, external);
    s.Connected(Svc, Session, label);
    return label;
}

void MakePool(TOCISessions& s)
{
    s.PoolCreated(Pool, "OCI:SP:1", "poolman", "pooldb:1521/svc");
}

} // namespace

TEST(OCISessions, LabelsFollowTheRulesOfConnectAndReuse)
{
    const struct {
        const char* Name;
        std::function<std::string(TOCISessions&)> Run;
        std::string Expected;
    } cases[] = {
        {"the first library's order: the context has its session before the begin",
         [](TOCISessions& s) {
             OdpiSetUp(s);
             std::string begun = Begin(s);
             return begun + " | " + s.Label(Svc);
         },
         "scott@localhost/orclpdb (ODPI-C : 6.0.0) | scott@localhost/orclpdb (ODPI-C : 6.0.0)"},
        {"the second library's order: the context gets its session after the begin",
         [](TOCISessions& s) {
             s.ServerAttached(Server, "localhost/orclpdb");
             s.ServerSet(Svc, Server);
             s.UserSet(Session, "scott");
             Begin(s);
             s.SessionSet(Svc, Session);
             return s.Label(Svc);
         },
         "scott@localhost/orclpdb"},
        {"unknown parts stay empty",
         [](TOCISessions& s) {
             std::string nothing = s.BeginLabel(Svc, Session, false);
             s.ServerAttached(Server, "localhost/orclpdb");
             s.ServerSet(Svc, Server);
             return nothing + " | " + s.BeginLabel(Svc, Session, false) + " | " + s.Label(Svc2);
         },
         "@ | @localhost/orclpdb | "},
        {"a server attached again takes its newest connect string",
         [](TOCISessions& s) {
             OdpiSetUp(s);
             s.ServerAttached(Server, "otherhost/xe");
             return Begin(s);
         },
         "scott@otherhost/xe (ODPI-C : 6.0.0)"},
        {"external credentials show no user",
         [](TOCISessions& s) {
             OdpiSetUp(s);
             return Begin(s, true);
         },
         "@localhost/orclpdb (ODPI-C : 6.0.0)"},
        {"after a disconnect the context keeps no label, the server stays its own",
         [](TOCISessions& s) {
             OdpiSetUp(s);
             Begin(s);
             std::string end = s.EndLabel(Svc, Session);
             s.Disconnected(Svc, Session);
             std::string after = s.Label(Svc);
             s.UserSet(Session, "adams");
             return end + " | " + after + " | " + Begin(s);
         },
         "scott@localhost/orclpdb (ODPI-C : 6.0.0) |  | adams@localhost/orclpdb (ODPI-C : 6.0.0)"},
        {"a disconnect naming no session ends the context's, and every context switched onto it",
         [](TOCISessions& s) {
             OdpiSetUp(s);
             Begin(s);
             s.SessionSet(Svc2, Session);
             std::string switched = s.Label(Svc2);
             s.Disconnected(Svc, 0);
             return switched + " | " + s.Label(Svc) + " | " + s.Label(Svc2) + " | " + s.EndLabel(Svc2, Session);
         },
         "scott@localhost/orclpdb (ODPI-C : 6.0.0) |  |  | "},
        {"a context given no session has no label",
         [](TOCISessions& s) {
             OdpiSetUp(s);
             Begin(s);
             s.SessionSet(Svc, 0);
             return s.Label(Svc);
         },
         ""},
        {"a pooled session without an authentication handle is the pool's user at its connect string",
         [](TOCISessions& s) {
             MakePool(s);
             return s.GetLabel(0, "OCI:SP:1", true, false);
         },
         "poolman@pooldb:1521/svc"},
        {"a user on the authentication handle wins over the pool's, its driver over the pool's",
         [](TOCISessions& s) {
             MakePool(s);
             s.PoolAuthSet(Pool, PoolAuth);
             s.DriverSet(PoolAuth, "pool driver");
             std::string pools = s.GetLabel(Auth, "OCI:SP:1", true, false);
             s.UserSet(Auth, "alice");
             s.DriverSet(Auth, "alice's driver");
             return pools + " | " + s.GetLabel(Auth, "OCI:SP:1", true, false);
         },
         "poolman@pooldb:1521/svc (pool driver) | alice@pooldb:1521/svc (alice's driver)"},
        {"external credentials show no user from the pool either",
         [](TOCISessions& s) {
             MakePool(s);
             s.UserSet(Auth, "alice");
             return s.GetLabel(Auth, "OCI:SP:1", true, true);
         },
         "@pooldb:1521/svc"},
        {"a pool nobody saw created gives no connect string; unpooled, the name is the connect string",
         [](TOCISessions& s) {
             s.UserSet(Auth, "bob");
             return s.GetLabel(Auth, "OCI:SP:9", true, false) + " | " + s.GetLabel(Auth, "direct/db", false, false);
         },
         "bob@ | bob@direct/db"},
        {"logons: the call's user and database; from a pool, the pool's where the call names none",
         [](TOCISessions& s) {
             MakePool(s);
             return s.LogonLabel("carol", "logon/db", false) + " | " + s.LogonLabel("", "OCI:SP:1", true) + " | " +
                    s.LogonLabel("dave", "OCI:SP:1", true);
         },
         "carol@logon/db | poolman@pooldb:1521/svc | dave@pooldb:1521/svc"},
        {"a context handed out by a call carries its label until its release",
         [](TOCISessions& s) {
             s.Connected(Svc2, 0, "carol@logon/db");
             std::string before = s.Label(Svc2) + " | " + s.EndLabel(Svc2, 0);
             s.Disconnected(Svc2, 0);
             return before + " | " + s.Label(Svc2);
         },
         "carol@logon/db | carol@logon/db | "},
        {"freed handles are forgotten: server, context, pool",
         [](TOCISessions& s) {
             OdpiSetUp(s);
             Begin(s);
             s.Forget(Server);
             std::string server = s.BeginLabel(Svc, Session, false);
             s.Forget(Svc);
             MakePool(s);
             s.Forget(Pool);
             return server + " | " + s.Label(Svc) + " | " + s.GetLabel(0, "OCI:SP:1", true, false);
         },
         "scott@ (ODPI-C : 6.0.0) |  | @"},
    };
    for (const auto& c : cases) {
        TOCISessions sessions;
        EXPECT_EQ(c.Run(sessions), c.Expected) << c.Name;
    }
}

TEST(OCISessions, SecretMemoryCoversItsPlacesOnlyAndKeepsTheNewest)
{
    TSecretMemory secrets;
    secrets.Add(0x1000, 16);
    secrets.Add(0, 16);       // no place
    secrets.Add(0x3000, 0);   // nothing there
    const struct {
        TAddress At;
        uint64_t Size;
        bool Overlaps;
    } cases[] = {
        {0x1000, 16, true}, {0x0FF0, 17, true},  {0x100F, 1, true},  {0x0FF0, 16, false},
        {0x1010, 8, false}, {0x1008, 0, false}, {0x3000, 4, false}, {0, 0x10000, true},
        {~TAddress(0) - 4, 16, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(secrets.Overlaps(c.At, c.Size), c.Overlaps) << std::hex << c.At << " +" << c.Size;
    // The oldest place goes once Kept newer ones came; one added again is the newest.
    for (TAddress i = 1; i < TSecretMemory::Kept; ++i)
        secrets.Add(0x1000 * (i + 4), 8);
    secrets.Add(0x1000, 16);
    secrets.Add(0x9000 * 4, 8);
    EXPECT_TRUE(secrets.Overlaps(0x1000, 1)) << "added again, it is among the newest";
    EXPECT_FALSE(secrets.Overlaps(0x5000, 1)) << "the oldest left";
}
