/* bridge_test.cpp -- hallmqtt end to end: a private broker on 127.0.0.1,
 * the real box driver on a pty with its control socket, a hub client
 * standing in for Home Assistant. Discovery as the hub needs it, commands
 * moving the driver (as its own control socket tells), malformed commands
 * changing nothing, and the faults: the broker restarted, a wrong
 * password, the driver gone, the bridge killed. The show's entities with
 * the real glimhost, headless and muted, on its control socket. Holds the
 * fixed ports' lock: the driver binds its feed sockets there. */
#include <cjson/cJSON.h>
#include <sys/stat.h>

#include <set>

#include "boxdriver/console_support.h"
#include "support/mosquitto.h"
#include "support/notify.h"
#include "wire/control.h"
#include "wire/show_control.h"

using namespace box_test;
using testing_mosquitto::Broker;
using testing_mosquitto::Hub;

namespace {

const std::string LAMPS = "homeassistant/light/hallway/lamps/config";
const std::string LIVE = "homeassistant/binary_sensor/hallway/live/config";
const std::string STATE = "hallway/light/state";
const std::string SET = "hallway/light/set";

std::string program()
{
    return std::string(HALL_BINARY_DIR) + "/bin/hallmqtt";
}

/* The value at a path of keys in a JSON text, printed; "" when missing. */
std::string json_at(const std::string &text, std::vector<std::string> path)
{
    cJSON *root = cJSON_Parse(text.c_str());
    const cJSON *at = root;
    for (auto &key : path)
        at = cJSON_GetObjectItemCaseSensitive(at, key.c_str());
    std::string out;
    if (cJSON_IsString(at))
        out = at->valuestring;
    else if (at) {
        char *printed = cJSON_PrintUnformatted(at);
        out = printed;
        free(printed);
    }
    cJSON_Delete(root);
    return out;
}

class Bridge : public Console {
protected:
    Broker broker;
    testing_process::Child bridge;
    unsigned short control_port = 0, first_port = 0;
    int asker = -1;

    void SetUp() override
    {
        Console::SetUp();
        first_port = free_port_run(4);
        control_port = testing_udp::free_port();
        asker = testing_udp::open_socket(0);
    }
    void TearDown() override
    {
        testing_process::stop(bridge);
        Console::TearDown();
        testing_mosquitto::remove(broker);
        close(asker);
    }
    void start_driver()
    {
        start({"--local-port", std::to_string(first_port), "--control",
               std::to_string(control_port)},
              false);
        ASSERT_TRUE(wait_output("Scale _U_p / _D_own : 256"));
    }
    void start_bridge(std::vector<std::string> extra = {})
    {
        std::vector<std::string> args = {program(), "--broker",
                                         "127.0.0.1:" + std::to_string(broker.port), "--driver",
                                         "127.0.0.1:" + std::to_string(control_port)};
        args.insert(args.end(), extra.begin(), extra.end());
        bridge = testing_process::start(args);
    }
    std::string bridge_err() { return testing_process::err(bridge); }
    /* The driver as its own control socket tells it. */
    control_answer driver_state()
    {
        control_answer a{};
        testing_udp::drain(asker);
        testing_udp::send_to(asker, control_port, "?", 1);
        auto line = testing_udp::receive(asker, 2000);
        EXPECT_EQ(control_parse_answer((const char *)line.data(), line.size(), &a), 0);
        return a;
    }
    bool driver_reaches(int level, int feed)
    {
        for (int waited = 0; waited < 3000; waited += 20) {
            control_answer a = driver_state();
            if (a.level == level && a.feed == feed)
                return true;
            usleep(20000);
        }
        return false;
    }
};

TEST_F(Bridge, DiscoveryIsRetainedWithWhatTheHubNeedsAndSentAgainWhenItStarts)
{
    ASSERT_TRUE(testing_mosquitto::start(broker)) << broker.error;
    start_driver();
    start_bridge();
    {
        Hub first(broker.port);
        ASSERT_TRUE(first.wait_for(STATE)) << bridge_err();
    }
    {
        /* A hub that comes later finds it all there. */
        Hub hub(broker.port);
        ASSERT_TRUE(hub.wait_for(LAMPS) && hub.wait_for(LIVE) && hub.wait_for(STATE));
        for (auto topic : {LAMPS, LIVE, STATE, std::string("hallway/status"),
                           std::string("hallway/driver/status")})
            EXPECT_TRUE(hub.retained(topic)) << topic;
        std::string lamps = hub.payload(LAMPS);
        struct field {
            std::vector<std::string> path;
            std::string value;       /* "*": anything but empty */
        } fields[] = {
            {{"schema"}, "json"},
            {{"name"}, "*"},
            {{"unique_id"}, "*"},
            {{"command_topic"}, SET},
            {{"state_topic"}, STATE},
            {{"supported_color_modes"}, "[\"brightness\"]"},
            {{"brightness"}, "true"},
            {{"brightness_scale"}, "255"},
            {{"effect"}, "true"},
            {{"effect_list"}, "[\"Main Music\",\"Test pattern\",\"Pong! Pong!\",\"Guest 1\","
                              "\"Guest 2\",\"Guest 3\",\"Local comp\"]"},
            {{"availability"}, "[{\"topic\":\"hallway/status\"},{\"topic\":\"hallway/driver/status\"}]"},
            {{"availability_mode"}, "all"},
            {{"device", "name"}, "Hallway lights"},
            {{"device", "identifiers"}, "*"},
        };
        for (auto &f : fields) {
            std::string got = json_at(lamps, f.path);
            if (f.value == "*")
                EXPECT_NE(got, "") << f.path.back() << " in " << lamps;
            else
                EXPECT_EQ(got, f.value) << f.path.back() << " in " << lamps;
        }
        EXPECT_EQ(json_at(hub.payload(LIVE), {"state_topic"}), STATE);
        EXPECT_EQ(hub.payload("hallway/status"), "online");
        EXPECT_EQ(hub.payload("hallway/driver/status"), "online");
        EXPECT_EQ(hub.payload(STATE), "{\"state\":\"ON\",\"brightness\":255,\"color_mode\":"
                                      "\"brightness\",\"effect\":\"Main Music\",\"level\":256,"
                                      "\"live\":false}");
        /* Without --show, none of the show's entities. */
        EXPECT_EQ(hub.payload("homeassistant/select/hallway/pattern/config"), "");

        /* The hub forgets (its configuration is gone), starts, says so. */
        hub.publish(LAMPS, "", true);
        ASSERT_TRUE(hub.wait_for(LAMPS, [](const std::string &p) { return p.empty(); }));
        hub.publish("homeassistant/status", "online");
        ASSERT_TRUE(hub.wait_for(LAMPS, [](const std::string &p) { return !p.empty(); }));
    }
    Hub later(broker.port);
    EXPECT_TRUE(later.wait_for(LAMPS, [](const std::string &p) { return !p.empty(); }));
    EXPECT_TRUE(later.retained(LAMPS));
}

TEST_F(Bridge, CommandsMoveTheDriverAndMalformedOnesChangeNothing)
{
    ASSERT_TRUE(testing_mosquitto::start(broker)) << broker.error;
    start_driver();
    start_bridge();
    Hub hub(broker.port);
    ASSERT_TRUE(hub.wait_for("hallway/driver/status",
                             [](const std::string &p) { return p == "online"; }))
        << bridge_err();
    struct step {
        const char *command;
        int level, feed;             /* what the driver then shows */
        const char *state;           /* the light's state: "state","brightness","effect" */
    } steps[] = {
        {"{\"state\":\"ON\",\"brightness\":128}", 128, 0, "ON 128 Main Music"},
        {"{\"state\":\"OFF\"}", 0, 0, "OFF  Main Music"},
        {"{\"state\":\"ON\"}", 128, 0, "ON 128 Main Music"},  /* the level before OFF */
        {"{\"state\":\"ON\",\"effect\":\"Test pattern\",\"transition\":2}", 128, 1,
         "ON 128 Test pattern"},
        {"{\"state\":\"ON\",\"brightness\":255,\"effect\":\"Pong! Pong!\"}", 256, 2,
         "ON 255 Pong! Pong!"},
        {"{\"state\":\"ON\",\"brightness\":1}", 16, 2, "ON 16 Pong! Pong!"},  /* dim, not dark */
    };
    for (const step &s : steps) {
        hub.publish(SET, s.command);
        EXPECT_TRUE(driver_reaches(s.level, s.feed)) << s.command;
        EXPECT_TRUE(hub.wait_for(STATE, [&](const std::string &p) {
            return json_at(p, {"state"}) + " " + json_at(p, {"brightness"}) + " " +
                       json_at(p, {"effect"}) ==
                   s.state;
        })) << s.command << " -> " << hub.payload(STATE);
    }

    const std::string malformed[] = {
        "garbage", "", "[]", "{\"state\":\"DIM\"}", "{\"brightness\":100}",
        "{\"state\":\"ON\",\"brightness\":300}", "{\"state\":\"ON\",\"brightness\":\"x\"}",
        "{\"state\":\"ON\",\"brightness\":99.5}", "{\"state\":\"ON\",\"effect\":\"Nope\"}",
        "{\"state\":\"OFF\",\"effect\":7}", std::string(5000, '{'),
    };
    std::string before = hub.payload(STATE);
    for (auto &payload : malformed)
        hub.publish(SET, payload);
    usleep(500000);
    control_answer a = driver_state();
    EXPECT_EQ(a.level, 16);
    EXPECT_EQ(a.feed, 2);
    EXPECT_EQ(hub.payload(STATE), before);
    EXPECT_FALSE(testing_process::wait_for(bridge, 0)) << "the bridge ended";
    /* Said once, and a flood kept to a line a second. */
    std::string err = bridge_err();
    EXPECT_EQ(count_of(err, "hallway/light/set: not a JSON object: 'garbage'; nothing changed\n"), 1u)
        << err;
    EXPECT_LE(count_of(err, "nothing changed"), 2u) << err;
}

TEST_F(Bridge, FaultsAreSaidOnceAndEverythingComesBack)
{
    ASSERT_TRUE(testing_mosquitto::start(broker)) << broker.error;
    start_driver();
    testing_notify::Manager manager;   /* and the service manager hears the state */
    ASSERT_TRUE(manager.open(1000000));
    start_bridge();
    manager.close_it_env();
    {
        Hub hub(broker.port);
        ASSERT_TRUE(hub.wait_for(LAMPS)) << bridge_err();
    }
    EXPECT_TRUE(manager.wait_for("READY=1", 0));
    EXPECT_TRUE(manager.wait_for("STATUS=broker connected; driver answers", 3000));
    EXPECT_TRUE(manager.wait_for("WATCHDOG=1", 2000));

    /* The broker crashes and comes back empty (nothing kept): the
     * bridge finds it again and says everything again. */
    unsigned short port = broker.port;
    testing_mosquitto::stop(broker, SIGKILL);
    usleep(2500000);  /* two attempts fail meanwhile */
    EXPECT_TRUE(manager.wait_for("STATUS=broker not connected; driver answers", 0));
    manager.close_it();
    ASSERT_TRUE(testing_mosquitto::start(broker, port)) << broker.error;
    {
        Hub hub(broker.port);
        EXPECT_TRUE(hub.wait_for(STATE, nullptr, 20000)) << bridge_err();
    }
    {
        Hub hub(broker.port);
        for (auto topic : {LAMPS, LIVE, STATE})
            EXPECT_TRUE(hub.wait_for(topic) && hub.retained(topic)) << topic;
        EXPECT_TRUE(hub.wait_for("hallway/status", [](const std::string &p) { return p == "online"; }));
    }
    EXPECT_EQ(count_of(bridge_err(), "trying again"), 2u)
        << "lost, then refused, each said once:\n" << bridge_err();
    EXPECT_EQ(count_of(testing_process::out(bridge), "connected again to the broker"), 1u);

    /* The driver stops answering: its entities go unavailable, then
     * come back with it. */
    Hub hub(broker.port);
    testing_process::stop(driver);
    EXPECT_TRUE(hub.wait_for("hallway/driver/status",
                             [](const std::string &p) { return p == "offline"; }));
    start_driver();
    EXPECT_TRUE(hub.wait_for("hallway/driver/status",
                             [](const std::string &p) { return p == "online"; }));

    /* Killed, the bridge leaves its will: offline, retained. */
    testing_process::stop(bridge, SIGKILL);
    Hub after(broker.port);
    EXPECT_TRUE(after.wait_for("hallway/status", [](const std::string &p) { return p == "offline"; }));
    EXPECT_TRUE(after.retained("hallway/status"));
}

TEST_F(Bridge, AWrongPasswordIsRefusedClearlyAndTriedAgain)
{
    broker.users = {{"hall", "right horse"}};
    ASSERT_TRUE(testing_mosquitto::start(broker)) << broker.error;
    start_driver();
    std::string file = dir + "/password";
    {
        std::ofstream(file) << "wrong battery\n";
    }
    chmod(file.c_str(), 0600);
    start_bridge({"--username", "hall", "--password-file", file});
    ASSERT_TRUE(testing_process::wait_for_output(bridge, "refused the login", 5000, true));
    usleep(2500000);  /* further attempts, not said again */
    std::string err = bridge_err();
    EXPECT_EQ(count_of(err, "hallmqtt: broker 127.0.0.1:" + std::to_string(broker.port) +
                                ": refused the login: Connection Refused: not authorised.; "
                                "trying again"),
              1u)
        << err;
    EXPECT_GE(count_of(testing_mosquitto::log(broker), "disconnected, not authorised"), 2u);

    /* The broker now takes that password: the next attempt gets in. */
    ASSERT_TRUE(testing_mosquitto::change_users(broker, {{"hall", "wrong battery"}}));
    Hub hub(broker.port, "#", "hall", "wrong battery");
    EXPECT_TRUE(hub.wait_for(LAMPS, nullptr, 20000)) << bridge_err();
    EXPECT_TRUE(testing_process::wait_for_output(bridge, "connected to the broker", 1000));
    unlink(file.c_str());
}

/* tls/: a certificate authority (ca.pem), the broker's certificate for
 * localhost and 127.0.0.1 signed by it (broker.pem, broker.key), and an
 * unrelated authority (other-ca.pem); made with openssl req -x509 and
 * openssl x509 -req, valid for a hundred years. */
TEST_F(Bridge, TalksTlsToABrokerWhoseCertificateItTrusts)
{
    std::string tls = std::string(HALL_SOURCE_DIR) + "/tests/hallmqtt/tls";
    broker.tls = tls;
    ASSERT_TRUE(testing_mosquitto::start(broker)) << broker.error;
    start_driver();
    std::string at = "localhost:" + std::to_string(broker.port);
    start_bridge({"--broker", at, "--tls-ca", tls + "/other-ca.pem"});
    EXPECT_TRUE(testing_process::wait_for_output(bridge, "the TLS handshake failed", 5000, true));
    usleep(1500000);
    EXPECT_EQ(count_of(bridge_err(), "trying again"), 1u) << bridge_err();
    testing_process::stop(bridge);

    start_bridge({"--broker", at, "--tls-ca", tls + "/ca.pem"});
    Hub hub(broker.port, "#", nullptr, nullptr, (tls + "/ca.pem").c_str());
    EXPECT_TRUE(hub.wait_for(LAMPS)) << bridge_err();
    EXPECT_NE(testing_process::out(bridge).find("hallmqtt: broker " + at + " (TLS)"),
              std::string::npos);
}

TEST_F(Bridge, TheShowsEntitiesSteerTheRealShowAndGoAwayWithIt)
{
    ASSERT_TRUE(testing_mosquitto::start(broker)) << broker.error;
    setenv("PULSE_SERVER", "unix:/nonexistent/glimhost-test", 1);
    unsetenv("DISPLAY");
    unsigned short show_port = testing_udp::free_port();
    auto start_show = [&] {
        return testing_process::start(
            {HALL_BINARY_DIR "/bin/glimhost", "--headless", "--mute", "--rate", "4", "--port",
             std::to_string(testing_udp::free_port()), "--control", std::to_string(show_port)});
    };
    testing_process::Child show = start_show();
    start_bridge({"--show", "127.0.0.1:" + std::to_string(show_port)});
    Hub hub(broker.port);
    auto is = [](const char *want) { return [=](const std::string &p) { return p == want; }; };
    ASSERT_TRUE(hub.wait_for("hallway/show/status", is("online"), 20000)) << bridge_err();
    auto asked = [&] {  /* the show as its own control socket tells it */
        show_answer a{};
        testing_udp::drain(asker);
        testing_udp::send_to(asker, show_port, "?", 1);
        auto line = testing_udp::receive(asker, 2000);
        EXPECT_EQ(show_parse_answer((const char *)line.data(), line.size(), &a), 0);
        return a;
    };
    show_answer a = asked();
    std::string options = "[";
    for (int i = 0; i < a.num_patterns; i++)
        options += "\"" + std::string(a.patterns[i]) + "\",";
    EXPECT_TRUE(hub.wait_for("homeassistant/select/hallway/pattern/config", [&](auto &p) {
        return json_at(p, {"options"}) == options + "\"Automatic\"]";
    }));

    struct {
        const char *topic, *payload, *fixed_to;  /* the pattern fixed, "" automatic */
        int delay;
    } steps[] = {{"hallway/show/pattern/set", "rise", "rise", 0},
                 {"hallway/show/delay/set", "-45", "rise", -45},
                 {"hallway/show/pattern/set", "Automatic", "", -45}};
    for (auto &st : steps) {
        /* The state comes back from the show's answer; the show says the same. */
        hub.publish(st.topic, st.payload);
        bool fixed = *st.fixed_to;
        EXPECT_TRUE(hub.wait_for("hallway/show/state", [&](const std::string &p) {
            return json_at(p, {"pattern"}) == (fixed ? st.fixed_to : "Automatic") &&
                   json_at(p, {"delay"}) == std::to_string(st.delay);
        })) << st.payload << " -> " << hub.payload("hallway/show/state");
        a = asked();
        EXPECT_TRUE(a.fixed == fixed && a.delay_ms == st.delay &&
                    (!fixed || st.fixed_to == std::string(a.pattern))) << st.payload;
    }

    /* The show stops answering: unavailable, then back with it. */
    testing_process::stop(show);
    EXPECT_TRUE(hub.wait_for("hallway/show/status", is("offline")));
    show = start_show();
    EXPECT_TRUE(hub.wait_for("hallway/show/status", is("online"), 20000)) << bridge_err();
    testing_process::stop(show);
}

TEST(BridgeOptions, BadCommandLinesAndUnsafePasswordFilesAreRefused)
{
    char dir_template[] = "/tmp/hallmqtt_testXXXXXX";
    std::string dir = mkdtemp(dir_template);
    std::string open_file = dir + "/open", missing = dir + "/missing";
    std::ofstream(open_file) << "secret\n";
    chmod(open_file.c_str(), 0644);
    struct row {
        std::vector<std::string> args;
        int status;
        std::string message;
    } rows[] = {
        {{}, 2, "hallmqtt: nothing to bridge: give --driver, --show or both (try --help)\n"},
        {{"--driver", "127.0.0.1"}, 2,
         "hallmqtt: --driver: expected HOST:PORT, a dotted-decimal IPv4 address and a port from "
         "1 to 65535, got '127.0.0.1'\n"},
        {{"--show", "localhost:80"}, 2, "hallmqtt: --show: expected HOST:PORT"},
        {{"--driver", "127.0.0.1:1", "--broker", "bad_name:1883"}, 2,
         "hallmqtt: --broker: expected HOST[:PORT]"},
        {{"--driver", "127.0.0.1:1", "--broker", "300.1.1.1"}, 2, "hallmqtt: --broker: expected"},
        {{"--driver", "127.0.0.1:1", "--broker", "host:0"}, 2, "hallmqtt: --broker: expected"},
        {{"--driver", "127.0.0.1:1", "--prefix", "a/+/b"}, 2, "hallmqtt: --prefix: expected"},
        {{"--driver", "127.0.0.1:1", "--discovery-prefix", "ha/"}, 2,
         "hallmqtt: --discovery-prefix: expected"},
        {{"--driver", "127.0.0.1:1", "--password-file", open_file}, 2,
         "hallmqtt: --password-file needs --username\n"},
        {{"--driver", "127.0.0.1:1", "--username", "hall", "--password-file", open_file}, 1,
         "hallmqtt: " + open_file + " can be read by others (mode 0644): chmod 600 it\n"},
        {{"--driver", "127.0.0.1:1", "--username", "hall", "--password-file", missing}, 1,
         "hallmqtt: open(" + missing + "): No such file or directory\n"},
        {{"--driver", "127.0.0.1:1", "--tls-ca", missing}, 1,
         "hallmqtt: --tls-ca " + missing + ": cannot read it\n"},
    };
    for (auto &r : rows) {
        std::vector<std::string> args = r.args;
        args.insert(args.begin(), program());
        auto c = testing_process::start(args);
        ASSERT_TRUE(testing_process::wait_for(c, 5000));
        EXPECT_EQ(testing_process::exit_code(c), r.status) << args.back();
        EXPECT_EQ(testing_process::err(c).rfind(r.message, 0), 0u)
            << testing_process::err(c) << " for " << args.back();
    }
    std::filesystem::remove_all(dir);
}

} // namespace
