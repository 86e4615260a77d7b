// The simulated device behind the stand-in: its state, the handle records and error raising.
#pragma once

#include <librealsense2/simulation.h>
#include <librealsense2/rs.hpp>

#include <algorithm>
#include <chrono>
#include <concepts>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct rs2_error {
    std::string message;
    std::string function;
    std::string args;
    rs2_exception_type type = RS2_EXCEPTION_TYPE_UNKNOWN;
};

struct rs2_context {
    int api_version = 0;
    // Shared so that a call in progress outlives the context's release. Guarded by the
    // simulation's mutex.
    std::shared_ptr<std::function<void(rs2::event_information&)>> devices_changed;
};

namespace rs2::detail {

struct profile_data {
    rs2sim_stream_profile profile{};
};

struct frame_data {
    bool composite = false;
    std::vector<std::shared_ptr<const frame_data>> children;
    rs2_stream stream = RS2_STREAM_ANY;
    int index = 0;
    rs2_format format = RS2_FORMAT_ANY;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
    double timestamp = 0.0;
    rs2_timestamp_domain domain = RS2_TIMESTAMP_DOMAIN_HARDWARE_CLOCK;
    std::vector<rs2sim_metadata> metadata;
    float depth_scale = 0.001f;
    long long number = 0;
};

// Handles made for one connection of the device fail once it is gone.
struct sensor_data {
    uint64_t generation = 0;
    bool depth = false;
    float depth_scale = 0.001f;
};

struct device_data {
    uint64_t generation = 0;
    bool has_depth_sensor = false;
    float depth_scale = 0.001f;
};

struct profile_set_data {
    std::vector<stream_profile> streams;
    device owner;
};

struct config_data {
    std::vector<rs2sim_stream_request> requests;
};

struct pipeline_data {
    std::shared_ptr<rs2_context> context;
    // The requests of the latest start, for a restart on a reconnected device.
    std::vector<rs2sim_stream_request> requests;
    bool started = false;
    uint64_t generation = 0;
    pipeline_profile active;
    // Releasing the last handle of a started pipeline stops streaming.
    ~pipeline_data();
};

struct queued_frameset {
    std::shared_ptr<const frame_data> frames;
    bool timeout = false;
};

struct injected_failure {
    rs2_exception_type type = RS2_EXCEPTION_TYPE_UNKNOWN;
    std::string message;
    int skip = 0;
    int count = 0;
};

// The one device of the process. Every member is guarded by `mutex`.
struct simulation {
    std::mutex mutex;
    // Signalled when a frame set is queued or the device or the streaming pipeline goes away.
    std::condition_variable changed;

    bool connected = false;
    // Whether a device was ever described since the last reset, for reconnecting it.
    bool described = false;
    uint64_t generation = 0;
    std::vector<rs2sim_stream_profile> profiles;
    bool has_depth_sensor = false;
    float depth_scale = 0.001f;

    std::map<int, bool> supported_options;
    std::map<int, option_range> option_ranges;
    std::map<int, float> option_values;
    std::vector<std::pair<rs2_option, float>> option_log;

    std::vector<rs2sim_stream_request> requests;
    // The pipeline that streams, compared by address only, never dereferenced.
    const pipeline_data* streaming = nullptr;
    std::vector<rs2sim_stream_profile> active;

    std::deque<queued_frameset> queue;
    int delivered = 0;
    int starts = 0;
    int stops = 0;
    int max_wait_ms = -1;
    int last_wait_timeout_ms = -1;
    long long frame_counter = 0;

    std::map<std::string, injected_failure, std::less<>> failures;
    std::map<std::string, int, std::less<>> calls;

    rs2sim_metadata_mode metadata_mode = RS2SIM_METADATA_FULL;
    int settling_framesets = 0;
    double device_clock_offset_ms = 0.0;
    // Frame sets pushed by rs2sim_push_active_frameset since the streaming pipeline started.
    int framesets_since_start = 0;

    // Live contexts, for their devices-changed callbacks.
    std::vector<rs2_context*> contexts;
};

simulation& sim();

// Resolves stream requests against the connected device's profiles; false when one cannot be
// met. Without requests every stream comes at its first profile. Lock held.
bool resolve_locked(const std::vector<rs2sim_stream_request>& requests,
                    std::vector<rs2sim_stream_profile>& resolved);
// Makes `pipeline` the one streaming, over `resolved` of the connected device. Lock held.
void start_streaming_locked(pipeline_data& pipeline,
                            const std::vector<rs2sim_stream_profile>& resolved);
// Waits on the device's condition until `ready` holds or `limit_ms` (shortened by the wait cap)
// passes; true when it holds.
template <typename Ready>
bool wait_locked(std::unique_lock<std::mutex>& lock, unsigned int limit_ms, Ready&& ready);
// Tells every live context's callback what a change of the device removed and added; takes the
// lock itself, and calls the callbacks without it.
void notify_devices_changed(uint64_t removed_generation, bool added);

// Throws the rs2::error subclass of `type`.
[[noreturn]] void raise(rs2_exception_type type, const std::string& message, const char* function,
                        const std::string& args);
// Counts a call of `function`; true, with the failure's type and message, when an injected
// failure is due for it. Lock held.
bool take_failure_locked(const char* function, rs2_exception_type& type, std::string& message);

// Counts a call of `function` and throws its injected failure, if one is due. The argument text
// is made only then, so calls on the frame path allocate nothing. Lock held.
template <typename MakeArgs>
requires std::invocable<MakeArgs>
void enter_locked(const char* function, MakeArgs&& make_args) {
    rs2_exception_type type = RS2_EXCEPTION_TYPE_UNKNOWN;
    std::string message;
    if (take_failure_locked(function, type, message)) {
        raise(type, message, function, make_args());
    }
}
inline void enter_locked(const char* function, const std::string& args) {
    enter_locked(function, [&] { return args; });
}
// As enter_locked, taking the lock itself.
template <typename MakeArgs>
requires std::invocable<MakeArgs>
void enter(const char* function, MakeArgs&& make_args) {
    std::lock_guard lock(sim().mutex);
    enter_locked(function, make_args);
}
inline void enter(const char* function, const std::string& args) {
    enter(function, [&] { return args; });
}

template <typename Ready>
bool wait_locked(std::unique_lock<std::mutex>& lock, unsigned int limit_ms, Ready&& ready) {
    simulation& s = sim();
    const auto started = std::chrono::steady_clock::now();
    while (!ready()) {
        // The cap is read afresh after every wake-up, so lowering it releases a waiting caller.
        unsigned int wait_ms = limit_ms;
        if (s.max_wait_ms >= 0) {
            wait_ms = std::min(wait_ms, static_cast<unsigned int>(s.max_wait_ms));
        }
        const auto deadline = started + std::chrono::milliseconds(wait_ms);
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        s.changed.wait_until(lock, deadline);
    }
    return true;
}

// A D4xx depth sensor's range of the option.
option_range default_option_range(rs2_option option);
const char* option_name(rs2_option option);
const char* stream_name(rs2_stream stream);

// The library's way into the handles' private members.
struct access {
    static const std::shared_ptr<const frame_data>& get(const rs2::frame& f) { return f._frame; }
    static void set(rs2::frame& f, std::shared_ptr<const frame_data> data) {
        f._frame = std::move(data);
    }
    static const std::shared_ptr<const profile_data>& get(const rs2::stream_profile& p) {
        return p._profile;
    }
    static void set(rs2::stream_profile& p, std::shared_ptr<const profile_data> data) {
        p._profile = std::move(data);
    }
    static const std::shared_ptr<sensor_data>& get(const rs2::options& o) { return o._sensor; }
    static void set(rs2::options& o, std::shared_ptr<sensor_data> data) {
        o._sensor = std::move(data);
    }
    static const std::shared_ptr<device_data>& get(const rs2::device& d) { return d._device; }
    static void set(rs2::device& d, std::shared_ptr<device_data> data) {
        d._device = std::move(data);
    }
    static const std::shared_ptr<const profile_set_data>& get(const rs2::pipeline_profile& p) {
        return p._profiles;
    }
    static void set(rs2::pipeline_profile& p, std::shared_ptr<const profile_set_data> data) {
        p._profiles = std::move(data);
    }
    static const std::shared_ptr<config_data>& get(const rs2::config& c) { return c._config; }
    static const std::shared_ptr<pipeline_data>& get(const rs2::pipeline& p) { return p._pipeline; }
    static const std::shared_ptr<rs2_context>& get(const rs2::context& c) { return c._context; }
    static std::vector<device>& get(rs2::device_list& l) { return l._devices; }
    static const std::vector<device>& get(const rs2::device_list& l) { return l._devices; }
    static void set(rs2::event_information& e, std::vector<uint64_t> removed,
                    rs2::device_list added) {
        e._removed = std::move(removed);
        e._added = std::move(added);
    }
    static const std::vector<uint64_t>& removed(const rs2::event_information& e) {
        return e._removed;
    }
};

}  // namespace rs2::detail
