// The C control interface of the simulated device.
#include <algorithm>
#include <cstring>

#include "device.h"

using rs2::detail::sim;
using rs2::detail::simulation;

namespace {

const rs2_option kAllOptions[] = {
    RS2_OPTION_EXPOSURE,
    RS2_OPTION_GAIN,
    RS2_OPTION_ENABLE_AUTO_EXPOSURE,
    RS2_OPTION_LASER_POWER,
    RS2_OPTION_EMITTER_ENABLED,
    RS2_OPTION_DEPTH_UNITS,
    RS2_OPTION_GLOBAL_TIME_ENABLED,
};

int bytes_per_pixel(rs2_format format) {
    switch (format) {
        case RS2_FORMAT_Z16:
        case RS2_FORMAT_DISPARITY16:
        case RS2_FORMAT_YUYV:
        case RS2_FORMAT_Y16:
            return 2;
        case RS2_FORMAT_RGB8:
        case RS2_FORMAT_BGR8:
            return 3;
        case RS2_FORMAT_RGBA8:
        case RS2_FORMAT_BGRA8:
            return 4;
        case RS2_FORMAT_XYZ32F:
            return 12;
        case RS2_FORMAT_ANY:
        case RS2_FORMAT_Y8:
            return 1;
    }
    return 1;
}

// Drops everything tied to the current connection; the next one starts afresh. Returns the
// generation of the device it removed, 0 when none was connected.
uint64_t disconnect_locked() {
    simulation& s = sim();
    const uint64_t removed = s.connected ? s.generation : 0;
    s.connected = false;
    ++s.generation;
    s.streaming = nullptr;
    s.active.clear();
    s.queue.clear();
    s.changed.notify_all();
    return removed;
}

// A fresh connection of the described device: options at their defaults. Returns the generation
// of the device it replaced, 0 when none was connected.
uint64_t connect_locked() {
    simulation& s = sim();
    const uint64_t removed = disconnect_locked();
    s.connected = true;
    s.supported_options.clear();
    s.option_ranges.clear();
    for (rs2_option option : kAllOptions) {
        s.supported_options[option] = true;
        s.option_ranges[option] = rs2::detail::default_option_range(option);
    }
    s.option_values.clear();
    s.option_log.clear();
    s.changed.notify_all();
    return removed;
}

std::shared_ptr<rs2::detail::frame_data> make_frame_locked(const rs2sim_frame& source) {
    simulation& s = sim();
    auto frame = std::make_shared<rs2::detail::frame_data>();
    frame->stream = source.stream;
    frame->index = source.index;
    frame->format = source.format;
    frame->width = std::max(source.width, 0);
    frame->height = std::max(source.height, 0);
    const size_t size = static_cast<size_t>(frame->width) * static_cast<size_t>(frame->height) *
                        static_cast<size_t>(bytes_per_pixel(source.format));
    frame->pixels.assign(size, 0);
    if (source.data && size > 0) {
        std::memcpy(frame->pixels.data(), source.data, size);
    }
    frame->timestamp = source.timestamp_ms;
    frame->domain = source.domain;
    if (source.metadata && source.metadata_count > 0) {
        frame->metadata.assign(source.metadata, source.metadata + source.metadata_count);
    }
    frame->depth_scale = s.depth_scale;
    frame->number = ++s.frame_counter;
    return frame;
}

// Forgets the described device and every scripted behaviour. Lock held.
void reset_locked();

}  // namespace

extern "C" {

void rs2sim_connect_device(const rs2sim_device_desc* desc) {
    simulation& s = sim();
    uint64_t removed = 0;
    {
        std::lock_guard lock(s.mutex);
        s.profiles.clear();
        if (desc && desc->profiles && desc->profile_count > 0) {
            s.profiles.assign(desc->profiles, desc->profiles + desc->profile_count);
        }
        s.has_depth_sensor = desc && desc->has_depth_sensor != 0;
        s.depth_scale = desc && desc->depth_scale > 0.0f ? desc->depth_scale : 0.001f;
        s.described = true;
        removed = connect_locked();
    }
    rs2::detail::notify_devices_changed(removed, true);
}

void rs2sim_reconnect_device(void) {
    simulation& s = sim();
    uint64_t removed = 0;
    {
        std::lock_guard lock(s.mutex);
        if (!s.described) {
            return;
        }
        removed = connect_locked();
    }
    rs2::detail::notify_devices_changed(removed, true);
}

void rs2sim_default_intrinsics(int width, int height, rs2_intrinsics* intrinsics) {
    if (!intrinsics) {
        return;
    }
    *intrinsics = rs2_intrinsics{};
    intrinsics->width = width;
    intrinsics->height = height;
    intrinsics->ppx = static_cast<float>(width) * 0.5f;
    intrinsics->ppy = static_cast<float>(height) * 0.5f;
    intrinsics->fx = static_cast<float>(width) * 0.6f;
    intrinsics->fy = static_cast<float>(width) * 0.6f;
    intrinsics->model = RS2_DISTORTION_BROWN_CONRADY;
}

void rs2sim_connect_default_device(void) {
    struct Mode {
        int width, height, fps;
    };
    const Mode modes[] = {{848, 480, 90}, {848, 480, 60}, {848, 480, 30},
                          {640, 480, 90}, {640, 480, 30}, {1280, 720, 30}};
    std::vector<rs2sim_stream_profile> profiles;
    for (const Mode& mode : modes) {
        rs2sim_stream_profile profile{};
        rs2sim_default_intrinsics(mode.width, mode.height, &profile.intrinsics);
        profile.fps = mode.fps;
        profile.stream = RS2_STREAM_DEPTH;
        profile.index = 0;
        profile.format = RS2_FORMAT_Z16;
        profiles.push_back(profile);
        profile.stream = RS2_STREAM_INFRARED;
        profile.format = RS2_FORMAT_Y8;
        profile.index = 1;
        profiles.push_back(profile);
        profile.index = 2;
        profiles.push_back(profile);
    }
    // Depth profiles first, as a device lists its depth module's modes.
    std::stable_sort(profiles.begin(), profiles.end(),
                     [](const auto& a, const auto& b) { return a.stream < b.stream; });
    rs2sim_device_desc desc{profiles.data(), static_cast<int>(profiles.size()), 1, 0.001f};
    rs2sim_connect_device(&desc);
}

void rs2sim_disconnect_device(void) {
    uint64_t removed = 0;
    {
        std::lock_guard lock(sim().mutex);
        removed = disconnect_locked();
    }
    if (removed != 0) {
        rs2::detail::notify_devices_changed(removed, false);
    }
}

void rs2sim_reset(void) {
    simulation& s = sim();
    uint64_t removed = 0;
    {
        std::lock_guard lock(s.mutex);
        removed = disconnect_locked();
        reset_locked();
    }
    if (removed != 0) {
        rs2::detail::notify_devices_changed(removed, false);
    }
}

void rs2sim_set_frame_metadata(rs2sim_metadata_mode mode) {
    std::lock_guard lock(sim().mutex);
    sim().metadata_mode = mode;
}

void rs2sim_set_global_time_settling(int framesets, double device_clock_offset_ms) {
    std::lock_guard lock(sim().mutex);
    sim().settling_framesets = std::max(framesets, 0);
    sim().device_clock_offset_ms = device_clock_offset_ms;
}

void rs2sim_set_option_range(rs2_option option, float min, float max, float step, float def) {
    std::lock_guard lock(sim().mutex);
    sim().option_ranges[option] = rs2::option_range{min, max, def, step};
}
}  // extern "C"

namespace {

void reset_locked() {
    simulation& s = sim();
    s.profiles.clear();
    s.described = false;
    s.has_depth_sensor = false;
    s.depth_scale = 0.001f;
    s.supported_options.clear();
    s.option_values.clear();
    s.option_log.clear();
    s.requests.clear();
    s.delivered = 0;
    s.starts = 0;
    s.stops = 0;
    s.max_wait_ms = -1;
    s.last_wait_timeout_ms = -1;
    s.frame_counter = 0;
    s.failures.clear();
    s.calls.clear();
    s.metadata_mode = RS2SIM_METADATA_FULL;
    s.settling_framesets = 0;
    s.device_clock_offset_ms = 0.0;
    s.framesets_since_start = 0;
}

}  // namespace

extern "C" {

void rs2sim_set_option_supported(rs2_option option, int supported) {
    std::lock_guard lock(sim().mutex);
    sim().supported_options[option] = supported != 0;
}

float rs2sim_get_option_value(rs2_option option, float fallback) {
    simulation& s = sim();
    std::lock_guard lock(s.mutex);
    auto found = s.option_values.find(option);
    return found == s.option_values.end() ? fallback : found->second;
}

int rs2sim_option_log_size(void) {
    std::lock_guard lock(sim().mutex);
    return static_cast<int>(sim().option_log.size());
}

int rs2sim_option_log_entry(int position, rs2_option* option, float* value) {
    simulation& s = sim();
    std::lock_guard lock(s.mutex);
    if (position < 0 || position >= static_cast<int>(s.option_log.size())) {
        return 0;
    }
    if (option) {
        *option = s.option_log[position].first;
    }
    if (value) {
        *value = s.option_log[position].second;
    }
    return 1;
}

void rs2sim_clear_option_log(void) {
    std::lock_guard lock(sim().mutex);
    sim().option_log.clear();
}

int rs2sim_stream_request_count(void) {
    std::lock_guard lock(sim().mutex);
    return static_cast<int>(sim().requests.size());
}

int rs2sim_stream_request_entry(int position, rs2sim_stream_request* request) {
    simulation& s = sim();
    std::lock_guard lock(s.mutex);
    if (position < 0 || position >= static_cast<int>(s.requests.size())) {
        return 0;
    }
    if (request) {
        *request = s.requests[position];
    }
    return 1;
}

int rs2sim_active_profile(rs2_stream stream, rs2sim_stream_profile* profile) {
    simulation& s = sim();
    std::lock_guard lock(s.mutex);
    if (!s.streaming) {
        return 0;
    }
    for (const rs2sim_stream_profile& active : s.active) {
        if (active.stream == stream) {
            if (profile) {
                *profile = active;
            }
            return 1;
        }
    }
    return 0;
}

int rs2sim_is_streaming(void) {
    std::lock_guard lock(sim().mutex);
    return sim().streaming ? 1 : 0;
}

int rs2sim_start_count(void) {
    std::lock_guard lock(sim().mutex);
    return sim().starts;
}

int rs2sim_stop_count(void) {
    std::lock_guard lock(sim().mutex);
    return sim().stops;
}

int rs2sim_push_frameset(const rs2sim_frame* frames, int count) {
    simulation& s = sim();
    std::lock_guard lock(s.mutex);
    if (!s.streaming) {
        return 0;
    }
    auto set = std::make_shared<rs2::detail::frame_data>();
    set->composite = true;
    for (int i = 0; frames && i < count; ++i) {
        set->children.push_back(make_frame_locked(frames[i]));
    }
    set->number = ++s.frame_counter;
    s.queue.push_back({std::move(set), false});
    s.changed.notify_all();
    return 1;
}

int rs2sim_push_active_frameset(double timestamp_ms, uint8_t infrared_value, uint16_t depth_units) {
    simulation& s = sim();
    std::lock_guard lock(s.mutex);
    if (!s.streaming) {
        return 0;
    }
    auto set = std::make_shared<rs2::detail::frame_data>();
    set->composite = true;
    const double device_ms = timestamp_ms + s.device_clock_offset_ms;
    const auto device_us = static_cast<rs2_metadata_type>(device_ms * 1000.0);
    auto global_option = s.option_values.find(RS2_OPTION_GLOBAL_TIME_ENABLED);
    const bool global_enabled =
        global_option == s.option_values.end() || global_option->second != 0.0f;
    const bool settled = s.framesets_since_start >= s.settling_framesets;
    ++s.framesets_since_start;
    rs2_timestamp_domain domain = RS2_TIMESTAMP_DOMAIN_SYSTEM_TIME;
    double stamp = timestamp_ms;
    if (s.metadata_mode != RS2SIM_METADATA_NONE) {
        // Without the device's own time stamps the library has only the host's arrival time.
        domain = global_enabled && settled ? RS2_TIMESTAMP_DOMAIN_GLOBAL_TIME
                                           : RS2_TIMESTAMP_DOMAIN_HARDWARE_CLOCK;
        stamp = domain == RS2_TIMESTAMP_DOMAIN_GLOBAL_TIME ? timestamp_ms : device_ms;
    }
    bool infrared = false;
    bool depth = false;
    for (const rs2sim_stream_profile& profile : s.active) {
        bool wanted = (profile.stream == RS2_STREAM_INFRARED && !infrared) ||
                      (profile.stream == RS2_STREAM_DEPTH && !depth);
        if (!wanted) {
            continue;
        }
        const bool isDepth = profile.stream == RS2_STREAM_DEPTH;
        infrared = infrared || !isDepth;
        depth = depth || isDepth;
        rs2sim_frame frame{};
        frame.stream = profile.stream;
        frame.index = profile.index;
        frame.format = isDepth ? RS2_FORMAT_Z16 : RS2_FORMAT_Y8;
        frame.width = profile.intrinsics.width;
        frame.height = profile.intrinsics.height;
        frame.timestamp_ms = stamp;
        frame.domain = domain;
        auto made = make_frame_locked(frame);
        if (isDepth) {
            for (size_t i = 0; i + 1 < made->pixels.size(); i += 2) {
                std::memcpy(made->pixels.data() + i, &depth_units, 2);
            }
        } else {
            std::fill(made->pixels.begin(), made->pixels.end(), infrared_value);
        }
        if (s.metadata_mode == RS2SIM_METADATA_FULL) {
            made->metadata = {{RS2_FRAME_METADATA_FRAME_COUNTER, made->number},
                              {RS2_FRAME_METADATA_FRAME_TIMESTAMP, device_us},
                              {RS2_FRAME_METADATA_SENSOR_TIMESTAMP, device_us}};
        } else if (s.metadata_mode == RS2SIM_METADATA_UVC_HEADER) {
            made->metadata = {{RS2_FRAME_METADATA_FRAME_TIMESTAMP, device_us}};
        }
        set->children.push_back(std::move(made));
    }
    set->number = ++s.frame_counter;
    s.queue.push_back({std::move(set), false});
    s.changed.notify_all();
    return 1;
}

int rs2sim_push_timeout(void) {
    simulation& s = sim();
    std::lock_guard lock(s.mutex);
    if (!s.streaming) {
        return 0;
    }
    s.queue.push_back({nullptr, true});
    s.changed.notify_all();
    return 1;
}

int rs2sim_pending_framesets(void) {
    std::lock_guard lock(sim().mutex);
    return static_cast<int>(sim().queue.size());
}

int rs2sim_delivered_framesets(void) {
    std::lock_guard lock(sim().mutex);
    return sim().delivered;
}

void rs2sim_set_max_wait_ms(int max_wait_ms) {
    std::lock_guard lock(sim().mutex);
    sim().max_wait_ms = max_wait_ms;
    sim().changed.notify_all();
}

int rs2sim_last_wait_timeout_ms(void) {
    std::lock_guard lock(sim().mutex);
    return sim().last_wait_timeout_ms;
}

void rs2sim_fail_call(const char* function, rs2_exception_type type, const char* message, int skip,
                      int count) {
    if (!function) {
        return;
    }
    std::lock_guard lock(sim().mutex);
    sim().failures[function] =
        rs2::detail::injected_failure{type, message ? message : "", std::max(skip, 0), count};
}

int rs2sim_call_count(const char* function) {
    if (!function) {
        return 0;
    }
    simulation& s = sim();
    std::lock_guard lock(s.mutex);
    auto found = s.calls.find(function);
    return found == s.calls.end() ? 0 : found->second;
}

}  // extern "C"
