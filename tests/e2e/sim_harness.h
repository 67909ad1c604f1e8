#pragma once

// Starts the service simulator in-process on an ephemeral loopback port for one
// test, and reads back what the client sent.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/fixture.h"
#include "sim/server.h"

namespace sharelink::testing {

class SimHarness {
 public:
  // fixture_utf8: a fixture file's JSON text (UTF-8: write it as a u8 literal).
  explicit SimHarness(const std::string& fixture_utf8) { start(parse(fixture_utf8)); }
  explicit SimHarness(sim::Fixture fixture) { start(std::move(fixture)); }
  // Over https with identity; an empty one: a certificate of a throwaway CA,
  // sim().ca_certificate_pem().
  SimHarness(sim::Fixture fixture, sim::TlsIdentity identity) {
    start(std::move(fixture), std::move(identity));
  }

  // Whatever a test expects of the service, the client must never send a request
  // the service would refuse as malformed.
  ~SimHarness() { EXPECT_EQ(violations(), ""); }
  SimHarness(const SimHarness&) = delete;
  SimHarness& operator=(const SimHarness&) = delete;

  static sim::Fixture demo_fixture() {
    sim::Fixture fixture;
    std::string error;
    EXPECT_TRUE(
        sim::load_fixture_file(SHARELINK_SOURCE_DIR "/sim/fixtures/demo.json", fixture, error))
        << error;
    fixture.quiet = true;
    return fixture;
  }

  sim::Simulator& sim() { return *sim_; }
  std::string link(const std::string& surl) const { return sim_->share_url(surl); }

  std::vector<sim::LogEntry> requests(const std::string& endpoint = "") const {
    std::vector<sim::LogEntry> out;
    for (const sim::LogEntry& entry : sim_->requests()) {
      if (endpoint.empty() || entry.endpoint == endpoint) out.push_back(entry);
    }
    return out;
  }

  // Every strictness violation the simulator saw, one per line.
  std::string violations() const {
    std::string out;
    for (const sim::LogEntry& entry : sim_->requests()) {
      if (!entry.violation.empty()) out += entry.path + ": " + entry.violation + "\n";
    }
    return out;
  }

 private:
  static sim::Fixture parse(const std::string& text) {
    sim::Fixture fixture;
    std::string error;
    EXPECT_TRUE(sim::parse_fixture(text, fixture, error)) << error;
    fixture.quiet = true;
    return fixture;
  }

  void start(sim::Fixture fixture, std::optional<sim::TlsIdentity> identity = std::nullopt) {
    sim_ = identity ? std::make_unique<sim::Simulator>(std::move(fixture), std::move(*identity))
                    : std::make_unique<sim::Simulator>(std::move(fixture));
    std::string error;
    EXPECT_TRUE(sim_->start("127.0.0.1", 0, error)) << error;
  }

  std::unique_ptr<sim::Simulator> sim_;
};

}  // namespace sharelink::testing
