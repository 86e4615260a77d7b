// The rs2 classes and plain functions of the stand-in, answered by the simulated device.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string_view>

#include "device.h"

namespace rs2::detail {

namespace {

std::string number_text(double value) {
    std::ostringstream stream;
    stream << value;
    return stream.str();
}

const char* metadata_name(rs2_frame_metadata_value value) {
    switch (value) {
        case RS2_FRAME_METADATA_FRAME_COUNTER:
            return "Frame Counter";
        case RS2_FRAME_METADATA_FRAME_TIMESTAMP:
            return "Frame Timestamp";
        case RS2_FRAME_METADATA_SENSOR_TIMESTAMP:
            return "Sensor Timestamp";
        case RS2_FRAME_METADATA_ACTUAL_EXPOSURE:
            return "Actual Exposure";
        case RS2_FRAME_METADATA_GAIN_LEVEL:
            return "Gain Level";
        case RS2_FRAME_METADATA_AUTO_EXPOSURE:
            return "Auto Exposure";
        case RS2_FRAME_METADATA_WHITE_BALANCE:
            return "White Balance";
        case RS2_FRAME_METADATA_TIME_OF_ARRIVAL:
            return "Time Of Arrival";
    }
    return "UNKNOWN";
}

std::string frame_args(const std::shared_ptr<const frame_data>& frame) {
    if (!frame) {
        return "frame_ref:nullptr";
    }
    return std::string("frame_ref:") + stream_name(frame->stream) + " #" +
           std::to_string(frame->number);
}

// Frame calls on an empty handle fail as the real library's null checks do.
template <typename MakeArgs>
const frame_data& checked_frame(const std::shared_ptr<const frame_data>& frame,
                                const char* function, MakeArgs&& make_args) {
    enter(function, make_args);
    if (!frame) {
        raise(RS2_EXCEPTION_TYPE_INVALID_VALUE, "null pointer passed for argument \"frame_ref\"",
              function, make_args());
    }
    return *frame;
}

const frame_data& checked_frame(const std::shared_ptr<const frame_data>& frame,
                                const char* function) {
    return checked_frame(frame, function, [&] { return frame_args(frame); });
}

// A composite frame answers frame-level questions with its first frame.
const frame_data& leading(const frame_data& frame) {
    if (frame.composite && !frame.children.empty()) {
        return *frame.children.front();
    }
    return frame;
}

void check_generation_locked(uint64_t generation, const char* function, const std::string& args) {
    simulation& s = sim();
    if (!s.connected || s.generation != generation) {
        raise(RS2_EXCEPTION_TYPE_CAMERA_DISCONNECTED, "Device disconnected", function, args);
    }
}

// A sensor of the connected device that supports `option`, or the error the library raises.
void check_option_locked(const std::shared_ptr<sensor_data>& sensor, rs2_option option,
                         const char* function, const std::string& args) {
    if (!sensor) {
        raise(RS2_EXCEPTION_TYPE_INVALID_VALUE, "null pointer passed for argument \"options\"",
              function, args);
    }
    check_generation_locked(sensor->generation, function, args);
    const auto& supported = sim().supported_options;
    auto found = supported.find(option);
    if (!sensor->depth || found == supported.end() || !found->second) {
        raise(RS2_EXCEPTION_TYPE_INVALID_VALUE,
              "object doesn't support option #" + std::to_string(static_cast<int>(option)),
              function, args);
    }
}

bool matches(const rs2sim_stream_request& request, const rs2sim_stream_profile& profile) {
    return request.stream == profile.stream &&
           (request.index == -1 || request.index == profile.index) &&
           (request.width == 0 || request.width == profile.intrinsics.width) &&
           (request.height == 0 || request.height == profile.intrinsics.height) &&
           (request.format == RS2_FORMAT_ANY || request.format == profile.format) &&
           (request.fps == 0 || request.fps == profile.fps);
}

void stop_streaming_locked(const pipeline_data* pipeline) {
    simulation& s = sim();
    if (s.streaming == pipeline) {
        s.streaming = nullptr;
        s.active.clear();
        s.queue.clear();
        ++s.stops;
        s.changed.notify_all();
    }
}

}  // namespace

bool resolve_locked(const std::vector<rs2sim_stream_request>& requests,
                    std::vector<rs2sim_stream_profile>& resolved) {
    simulation& s = sim();
    resolved.clear();
    if (requests.empty()) {
        for (const rs2sim_stream_profile& profile : s.profiles) {
            bool seen = std::any_of(resolved.begin(), resolved.end(), [&](const auto& other) {
                return other.stream == profile.stream && other.index == profile.index;
            });
            if (!seen) {
                resolved.push_back(profile);
            }
        }
    }
    for (const rs2sim_stream_request& request : requests) {
        auto found = std::find_if(s.profiles.begin(), s.profiles.end(),
                                  [&](const auto& profile) { return matches(request, profile); });
        if (found == s.profiles.end()) {
            return false;
        }
        resolved.push_back(*found);
    }
    return true;
}

void start_streaming_locked(pipeline_data& pipeline,
                            const std::vector<rs2sim_stream_profile>& resolved) {
    simulation& s = sim();
    auto profiles = std::make_shared<profile_set_data>();
    for (const rs2sim_stream_profile& profile : resolved) {
        stream_profile handle;
        access::set(handle, std::make_shared<const profile_data>(profile_data{profile}));
        profiles->streams.push_back(handle);
    }
    access::set(profiles->owner, std::make_shared<device_data>(
                                     device_data{s.generation, s.has_depth_sensor, s.depth_scale}));
    access::set(pipeline.active, profiles);
    pipeline.started = true;
    pipeline.generation = s.generation;
    s.streaming = &pipeline;
    s.active = resolved;
    s.queue.clear();
    s.framesets_since_start = 0;
    ++s.starts;
}

void notify_devices_changed(uint64_t removed_generation, bool added) {
    std::vector<std::shared_ptr<std::function<void(rs2::event_information&)>>> callbacks;
    rs2::event_information event;
    {
        simulation& s = sim();
        std::lock_guard lock(s.mutex);
        for (const rs2_context* context : s.contexts) {
            if (context->devices_changed) {
                callbacks.push_back(context->devices_changed);
            }
        }
        std::vector<uint64_t> removed;
        if (removed_generation != 0) {
            removed.push_back(removed_generation);
        }
        rs2::device_list added_devices;
        if (added && s.connected) {
            device connected;
            access::set(connected, std::make_shared<device_data>(device_data{
                                       s.generation, s.has_depth_sensor, s.depth_scale}));
            access::get(added_devices).push_back(connected);
        }
        access::set(event, std::move(removed), std::move(added_devices));
    }
    for (const auto& callback : callbacks) {
        (*callback)(event);
    }
}

simulation& sim() {
    // Never destroyed, so that handles released during process exit still find it.
    static simulation* instance = new simulation();
    return *instance;
}

[[noreturn]] void raise(rs2_exception_type type, const std::string& message, const char* function,
                        const std::string& args) {
    auto* e = new rs2_error{message, function ? function : "", args, type};
    rs2::error::handle(e);
    // handle() throws for every non-null error.
    throw rs2::error(message);
}

bool take_failure_locked(const char* function, rs2_exception_type& type, std::string& message) {
    simulation& s = sim();
    const std::string_view name(function);
    auto counted = s.calls.find(name);
    if (counted == s.calls.end()) {
        counted = s.calls.emplace(std::string(name), 0).first;
    }
    ++counted->second;
    auto found = s.failures.find(name);
    if (found == s.failures.end()) {
        return false;
    }
    injected_failure& failure = found->second;
    if (failure.skip > 0) {
        --failure.skip;
        return false;
    }
    if (failure.count <= 0) {
        return false;
    }
    --failure.count;
    type = failure.type;
    message = failure.message;
    return true;
}

option_range default_option_range(rs2_option option) {
    switch (option) {
        case RS2_OPTION_EXPOSURE:
            return {1.0f, 165000.0f, 8500.0f, 1.0f};
        case RS2_OPTION_GAIN:
            return {16.0f, 248.0f, 16.0f, 1.0f};
        case RS2_OPTION_ENABLE_AUTO_EXPOSURE:
        case RS2_OPTION_GLOBAL_TIME_ENABLED:
            return {0.0f, 1.0f, 1.0f, 1.0f};
        case RS2_OPTION_LASER_POWER:
            return {0.0f, 360.0f, 150.0f, 30.0f};
        case RS2_OPTION_EMITTER_ENABLED:
            return {0.0f, 2.0f, 1.0f, 1.0f};
        case RS2_OPTION_DEPTH_UNITS:
            return {0.000001f, 0.01f, 0.001f, 0.000001f};
    }
    return {0.0f, 0.0f, 0.0f, 0.0f};
}

const char* option_name(rs2_option option) {
    switch (option) {
        case RS2_OPTION_EXPOSURE:
            return "Exposure";
        case RS2_OPTION_GAIN:
            return "Gain";
        case RS2_OPTION_ENABLE_AUTO_EXPOSURE:
            return "Enable Auto Exposure";
        case RS2_OPTION_LASER_POWER:
            return "Laser Power";
        case RS2_OPTION_EMITTER_ENABLED:
            return "Emitter Enabled";
        case RS2_OPTION_DEPTH_UNITS:
            return "Depth Units";
        case RS2_OPTION_GLOBAL_TIME_ENABLED:
            return "Global Time Enabled";
    }
    return "UNKNOWN";
}

const char* stream_name(rs2_stream stream) {
    switch (stream) {
        case RS2_STREAM_ANY:
            return "Any";
        case RS2_STREAM_DEPTH:
            return "Depth";
        case RS2_STREAM_COLOR:
            return "Color";
        case RS2_STREAM_INFRARED:
            return "Infrared";
        case RS2_STREAM_FISHEYE:
            return "Fisheye";
        case RS2_STREAM_GYRO:
            return "Gyro";
        case RS2_STREAM_ACCEL:
            return "Accel";
        case RS2_STREAM_GPIO:
            return "GPIO";
        case RS2_STREAM_POSE:
            return "Pose";
        case RS2_STREAM_CONFIDENCE:
            return "Confidence";
        case RS2_STREAM_COUNT:
            break;
    }
    return "UNKNOWN";
}

pipeline_data::~pipeline_data() {
    if (started) {
        std::lock_guard lock(sim().mutex);
        stop_streaming_locked(this);
    }
}

}  // namespace rs2::detail

using rs2::detail::access;
using rs2::detail::enter;
using rs2::detail::enter_locked;
using rs2::detail::raise;
using rs2::detail::sim;
using rs2::detail::simulation;

// ---- plain functions ----

extern "C" {

const char* rs2_get_error_message(const rs2_error* error) {
    return error ? error->message.c_str() : "";
}
const char* rs2_get_failed_function(const rs2_error* error) {
    return error ? error->function.c_str() : "";
}
const char* rs2_get_failed_args(const rs2_error* error) {
    return error ? error->args.c_str() : "";
}
rs2_exception_type rs2_get_librealsense_exception_type(const rs2_error* error) {
    return error ? error->type : RS2_EXCEPTION_TYPE_UNKNOWN;
}
void rs2_free_error(rs2_error* error) {
    delete error;
}

rs2_context* rs2_create_context(int api_version, rs2_error** error) {
    const std::string args = "api_version:" + std::to_string(api_version);
    try {
        enter("rs2_create_context", args);
        if (api_version / 10000 != RS2_API_MAJOR_VERSION || api_version > RS2_API_VERSION) {
            raise(RS2_EXCEPTION_TYPE_INVALID_VALUE,
                  "API version mismatch: librealsense.so was compiled with API version " +
                      std::to_string(RS2_API_VERSION) + " but the application was compiled with " +
                      std::to_string(api_version),
                  "rs2_create_context", args);
        }
    } catch (const rs2::error& failure) {
        if (error) {
            *error = new rs2_error{failure.what(), failure.get_failed_function(),
                                   failure.get_failed_args(), failure.get_type()};
        }
        return nullptr;
    }
    auto* context = new rs2_context{api_version, nullptr};
    std::lock_guard lock(sim().mutex);
    sim().contexts.push_back(context);
    return context;
}

void rs2_delete_context(rs2_context* context) {
    if (!context) {
        return;
    }
    {
        std::lock_guard lock(sim().mutex);
        auto& contexts = sim().contexts;
        contexts.erase(std::remove(contexts.begin(), contexts.end(), context), contexts.end());
    }
    delete context;
}

const char* rs2_option_to_string(rs2_option option) {
    return rs2::detail::option_name(option);
}

rs2_time_t rs2_get_time(rs2_error** /*error*/) {
    using namespace std::chrono;
    return duration<double, std::milli>(system_clock::now().time_since_epoch()).count();
}

}  // extern "C"

namespace rs2 {

// ---- errors ----

error::error(rs2_error* err) : std::runtime_error(rs2_get_error_message(err)) {
    function = rs2_get_failed_function(err);
    args = rs2_get_failed_args(err);
    type = rs2_get_librealsense_exception_type(err);
    rs2_free_error(err);
}

error::error(const std::string& message) : std::runtime_error(message) {}

error::~error() = default;
recoverable_error::~recoverable_error() = default;
unrecoverable_error::~unrecoverable_error() = default;
camera_disconnected_error::~camera_disconnected_error() = default;
backend_error::~backend_error() = default;
device_in_recovery_mode_error::~device_in_recovery_mode_error() = default;
invalid_value_error::~invalid_value_error() = default;
wrong_api_call_sequence_error::~wrong_api_call_sequence_error() = default;
not_implemented_error::~not_implemented_error() = default;

void error::handle(rs2_error* e) {
    if (!e) {
        return;
    }
    switch (rs2_get_librealsense_exception_type(e)) {
        case RS2_EXCEPTION_TYPE_CAMERA_DISCONNECTED:
            throw camera_disconnected_error(e);
        case RS2_EXCEPTION_TYPE_BACKEND:
            throw backend_error(e);
        case RS2_EXCEPTION_TYPE_INVALID_VALUE:
            throw invalid_value_error(e);
        case RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE:
            throw wrong_api_call_sequence_error(e);
        case RS2_EXCEPTION_TYPE_NOT_IMPLEMENTED:
            throw not_implemented_error(e);
        case RS2_EXCEPTION_TYPE_DEVICE_IN_RECOVERY_MODE:
            throw device_in_recovery_mode_error(e);
        default:
            throw error(e);
    }
}

// ---- context ----

context::context() {
    rs2_error* e = nullptr;
    _context =
        std::shared_ptr<rs2_context>(rs2_create_context(RS2_API_VERSION, &e), rs2_delete_context);
    error::handle(e);
}

context::context(std::shared_ptr<rs2_context> ctx) : _context(std::move(ctx)) {}

device_list context::query_devices() const {
    simulation& s = sim();
    std::lock_guard lock(s.mutex);
    enter_locked("rs2_query_devices", "context");
    device_list list;
    if (s.connected) {
        device connected;
        access::set(connected, std::make_shared<detail::device_data>(detail::device_data{
                                   s.generation, s.has_depth_sensor, s.depth_scale}));
        access::get(list).push_back(connected);
    }
    return list;
}

void context::set_devices_changed_function(std::function<void(event_information&)> callback) {
    std::lock_guard lock(sim().mutex);
    if (_context) {
        _context->devices_changed =
            std::make_shared<std::function<void(event_information&)>>(std::move(callback));
    }
}

// ---- device lists and change events ----

device_list::device_list() = default;

uint32_t device_list::size() const {
    return static_cast<uint32_t>(_devices.size());
}

device device_list::operator[](uint32_t index) const {
    if (index >= _devices.size()) {
        raise(RS2_EXCEPTION_TYPE_INVALID_VALUE, "out of range value for argument \"index\"",
              "rs2_create_device", "info_list, index:" + std::to_string(index));
    }
    return _devices[index];
}

bool event_information::was_removed(const device& dev) const {
    const auto& data = access::get(dev);
    return data && std::find(_removed.begin(), _removed.end(), data->generation) != _removed.end();
}

bool event_information::was_added(const device& dev) const {
    const auto& data = access::get(dev);
    const auto& added = access::get(_added);
    return data && std::any_of(added.begin(), added.end(), [&](const device& other) {
               return access::get(other)->generation == data->generation;
           });
}

device_list event_information::get_new_devices() const {
    return _added;
}

// ---- stream profiles ----

stream_profile::stream_profile() = default;

namespace {
const rs2sim_stream_profile& checked_profile(const std::shared_ptr<const detail::profile_data>& p) {
    if (!p) {
        raise(RS2_EXCEPTION_TYPE_INVALID_VALUE, "null pointer passed for argument \"profile\"",
              "rs2_get_stream_profile_data", "profile:nullptr");
    }
    return p->profile;
}
}  // namespace

int stream_profile::stream_index() const {
    return checked_profile(_profile).index;
}
rs2_stream stream_profile::stream_type() const {
    return checked_profile(_profile).stream;
}
rs2_format stream_profile::format() const {
    return checked_profile(_profile).format;
}
int stream_profile::fps() const {
    return checked_profile(_profile).fps;
}

video_stream_profile::video_stream_profile(const stream_profile& sp) : stream_profile(sp) {}

int video_stream_profile::width() const {
    return checked_profile(_profile).intrinsics.width;
}
int video_stream_profile::height() const {
    return checked_profile(_profile).intrinsics.height;
}

rs2_intrinsics video_stream_profile::get_intrinsics() const {
    const rs2sim_stream_profile& profile = checked_profile(_profile);
    enter("rs2_get_video_stream_intrinsics", std::string("profile:") +
                                                 detail::stream_name(profile.stream) + " " +
                                                 std::to_string(profile.index));
    return profile.intrinsics;
}

// ---- sensors and devices ----

bool options::supports(rs2_option option) const {
    const std::string args = std::string("options, option:") + detail::option_name(option);
    simulation& s = sim();
    std::lock_guard lock(s.mutex);
    enter_locked("rs2_supports_option", args);
    if (!_sensor) {
        raise(RS2_EXCEPTION_TYPE_INVALID_VALUE, "null pointer passed for argument \"options\"",
              "rs2_supports_option", args);
    }
    detail::check_generation_locked(_sensor->generation, "rs2_supports_option", args);
    if (!_sensor->depth) {
        return false;
    }
    auto found = s.supported_options.find(option);
    return found != s.supported_options.end() && found->second;
}

option_range options::get_option_range(rs2_option option) const {
    const std::string args = std::string("options, option:") + detail::option_name(option);
    simulation& s = sim();
    std::lock_guard lock(s.mutex);
    enter_locked("rs2_get_option_range", args);
    detail::check_option_locked(_sensor, option, "rs2_get_option_range", args);
    return s.option_ranges[option];
}

void options::set_option(rs2_option option, float value) const {
    const std::string args = std::string("options, option:") + detail::option_name(option) +
                             ", value:" + detail::number_text(value);
    simulation& s = sim();
    std::lock_guard lock(s.mutex);
    enter_locked("rs2_set_option", args);
    detail::check_option_locked(_sensor, option, "rs2_set_option", args);
    // As the real sensors do: the value must lie in the range and on one of its steps.
    const option_range& range = s.option_ranges[option];
    bool valid = value >= range.min && value <= range.max;
    if (valid && range.step > 0.0f) {
        const double steps = (static_cast<double>(value) - range.min) / range.step;
        valid = std::abs(steps - std::round(steps)) < 1e-3;
    }
    if (!valid) {
        raise(RS2_EXCEPTION_TYPE_INVALID_VALUE,
              "value " + detail::number_text(value) + " of option " + detail::option_name(option) +
                  " is outside its range [" + detail::number_text(range.min) + ", " +
                  detail::number_text(range.max) + "] in steps of " +
                  detail::number_text(range.step),
              "rs2_set_option", args);
    }
    s.option_values[option] = value;
    s.option_log.emplace_back(option, value);
}

sensor::sensor() = default;

depth_sensor::depth_sensor(sensor s) : sensor(std::move(s)) {
    if (_sensor && !_sensor->depth) {
        _sensor.reset();
    }
}

float depth_sensor::get_depth_scale() const {
    if (!_sensor) {
        raise(RS2_EXCEPTION_TYPE_INVALID_VALUE, "null pointer passed for argument \"sensor\"",
              "rs2_get_depth_scale", "sensor:nullptr");
    }
    return _sensor->depth_scale;
}

device::device() = default;

std::vector<sensor> device::query_sensors() const {
    simulation& s = sim();
    std::lock_guard lock(s.mutex);
    enter_locked("rs2_query_sensors", "device");
    if (!_device) {
        raise(RS2_EXCEPTION_TYPE_INVALID_VALUE, "null pointer passed for argument \"device\"",
              "rs2_query_sensors", "device:nullptr");
    }
    detail::check_generation_locked(_device->generation, "rs2_query_sensors", "device");
    // A device without a depth sensor still has another one (its colour module).
    sensor only;
    access::set(only, std::make_shared<detail::sensor_data>(detail::sensor_data{
                          _device->generation, _device->has_depth_sensor, _device->depth_scale}));
    return {only};
}

// ---- frames ----

frame::frame() = default;

double frame::get_timestamp() const {
    const auto& f = detail::checked_frame(_frame, "rs2_get_frame_timestamp");
    return detail::leading(f).timestamp;
}

rs2_timestamp_domain frame::get_frame_timestamp_domain() const {
    const auto& f = detail::checked_frame(_frame, "rs2_get_frame_timestamp_domain");
    return detail::leading(f).domain;
}

bool frame::supports_frame_metadata(rs2_frame_metadata_value frame_metadata) const {
    const auto& f = detail::checked_frame(_frame, "rs2_supports_frame_metadata", [&] {
        return detail::frame_args(_frame) +
               ", frame_metadata:" + detail::metadata_name(frame_metadata);
    });
    const auto& metadata = detail::leading(f).metadata;
    return std::any_of(metadata.begin(), metadata.end(),
                       [&](const rs2sim_metadata& entry) { return entry.key == frame_metadata; });
}

rs2_metadata_type frame::get_frame_metadata(rs2_frame_metadata_value frame_metadata) const {
    auto args = [&] {
        return detail::frame_args(_frame) +
               ", frame_metadata:" + detail::metadata_name(frame_metadata);
    };
    const auto& f = detail::checked_frame(_frame, "rs2_get_frame_metadata", args);
    for (const rs2sim_metadata& entry : detail::leading(f).metadata) {
        if (entry.key == frame_metadata) {
            return entry.value;
        }
    }
    raise(RS2_EXCEPTION_TYPE_INVALID_VALUE,
          std::string("metadata not available: ") + detail::metadata_name(frame_metadata),
          "rs2_get_frame_metadata", args());
}

const void* frame::get_data() const {
    const auto& f = detail::checked_frame(_frame, "rs2_get_frame_data");
    const auto& pixels = detail::leading(f).pixels;
    return pixels.empty() ? nullptr : pixels.data();
}

video_frame::video_frame(const frame& f) : frame(f) {
    if (_frame && _frame->composite) {
        _frame.reset();
    }
}

int video_frame::get_width() const {
    return detail::checked_frame(_frame, "rs2_get_frame_width").width;
}

int video_frame::get_height() const {
    return detail::checked_frame(_frame, "rs2_get_frame_height").height;
}

depth_frame::depth_frame(const frame& f) : video_frame(f) {
    if (_frame && _frame->stream != RS2_STREAM_DEPTH) {
        _frame.reset();
    }
}

float depth_frame::get_distance(int x, int y) const {
    auto args = [&] {
        return detail::frame_args(_frame) + ", x:" + std::to_string(x) + ", y:" + std::to_string(y);
    };
    const auto& f = detail::checked_frame(_frame, "rs2_depth_frame_get_distance", args);
    if (x < 0 || x >= f.width) {
        raise(RS2_EXCEPTION_TYPE_INVALID_VALUE, "out of range value for argument \"x\"",
              "rs2_depth_frame_get_distance", args());
    }
    if (y < 0 || y >= f.height) {
        raise(RS2_EXCEPTION_TYPE_INVALID_VALUE, "out of range value for argument \"y\"",
              "rs2_depth_frame_get_distance", args());
    }
    const size_t offset = (static_cast<size_t>(y) * static_cast<size_t>(f.width) + x) * 2;
    uint16_t units = 0;
    if (f.pixels.size() >= offset + 2) {
        std::memcpy(&units, f.pixels.data() + offset, 2);
    }
    return static_cast<float>(units) * f.depth_scale;
}

frameset::frameset() = default;

frameset::frameset(const frame& f) : frame(f) {
    if (_frame && !_frame->composite) {
        _frame.reset();
    }
}

size_t frameset::size() const {
    return _frame ? _frame->children.size() : 0;
}

frame frameset::first_or_default(rs2_stream s, rs2_format f) const {
    frame result;
    if (!_frame) {
        return result;
    }
    for (const auto& child : _frame->children) {
        if ((s == RS2_STREAM_ANY || child->stream == s) &&
            (f == RS2_FORMAT_ANY || child->format == f)) {
            access::set(result, child);
            break;
        }
    }
    return result;
}

frame frameset::first(rs2_stream s, rs2_format f) const {
    frame result = first_or_default(s, f);
    if (!result) {
        throw error("Frame of requested stream type was not found!");
    }
    return result;
}

depth_frame frameset::get_depth_frame() const {
    return first_or_default(RS2_STREAM_DEPTH, RS2_FORMAT_Z16);
}

video_frame frameset::get_infrared_frame(size_t index) const {
    if (index == 0) {
        return first_or_default(RS2_STREAM_INFRARED);
    }
    frame result;
    if (_frame) {
        for (const auto& child : _frame->children) {
            if (child->stream == RS2_STREAM_INFRARED &&
                static_cast<size_t>(child->index) == index) {
                access::set(result, child);
                break;
            }
        }
    }
    return result;
}

// ---- configuration and pipeline ----

config::config() : _config(std::make_shared<detail::config_data>()) {}

void config::enable_stream(rs2_stream stream_type, int stream_index, int width, int height,
                           rs2_format format, int framerate) {
    _config->requests.push_back({stream_type, stream_index, width, height, format, framerate});
}

void config::enable_stream(rs2_stream stream_type, int stream_index) {
    enable_stream(stream_type, stream_index, 0, 0, RS2_FORMAT_ANY, 0);
}

void config::enable_stream(rs2_stream stream_type, int width, int height, rs2_format format,
                           int framerate) {
    enable_stream(stream_type, -1, width, height, format, framerate);
}

pipeline_profile::pipeline_profile() = default;

std::vector<stream_profile> pipeline_profile::get_streams() const {
    return _profiles ? _profiles->streams : std::vector<stream_profile>{};
}

stream_profile pipeline_profile::get_stream(rs2_stream stream_type, int stream_index) const {
    for (const stream_profile& profile : get_streams()) {
        if (profile.stream_type() == stream_type &&
            (stream_index == -1 || profile.stream_index() == stream_index)) {
            return profile;
        }
    }
    throw std::runtime_error("Profile does not contain the requested stream");
}

device pipeline_profile::get_device() const {
    return _profiles ? _profiles->owner : device();
}

pipeline::pipeline(context ctx) {
    enter("rs2_create_pipeline", "ctx");
    if (!access::get(ctx)) {
        raise(RS2_EXCEPTION_TYPE_INVALID_VALUE, "null pointer passed for argument \"ctx\"",
              "rs2_create_pipeline", "ctx:nullptr");
    }
    _pipeline = std::make_shared<detail::pipeline_data>();
    _pipeline->context = access::get(ctx);
}

pipeline_profile pipeline::start() {
    return start(config());
}

pipeline_profile pipeline::start(const config& config) {
    const char* function = "rs2_pipeline_start_with_config";
    simulation& s = sim();
    std::unique_lock lock(s.mutex);
    s.requests = access::get(config)->requests;
    enter_locked(function, "pipe, config");
    if (_pipeline->started) {
        raise(RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE, "start() cannot be called before stop()",
              function, "pipe, config");
    }
    // The real pipeline waits for a device to appear, three times five seconds, before it gives
    // up.
    constexpr unsigned int kDeviceWaitMs = 15000;
    if (!detail::wait_locked(lock, kDeviceWaitMs, [&] { return s.connected; })) {
        raise(RS2_EXCEPTION_TYPE_UNKNOWN, "No device connected", function, "pipe, config");
    }
    if (s.streaming) {
        raise(RS2_EXCEPTION_TYPE_BACKEND, "Device or resource busy", function, "pipe, config");
    }
    std::vector<rs2sim_stream_profile> resolved;
    if (!detail::resolve_locked(s.requests, resolved)) {
        raise(RS2_EXCEPTION_TYPE_UNKNOWN, "Couldn't resolve requests", function, "pipe, config");
    }
    _pipeline->requests = s.requests;
    detail::start_streaming_locked(*_pipeline, resolved);
    return _pipeline->active;
}

void pipeline::stop() {
    simulation& s = sim();
    std::lock_guard lock(s.mutex);
    enter_locked("rs2_pipeline_stop", "pipe");
    if (!_pipeline->started) {
        raise(RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE, "stop() cannot be called before start()",
              "rs2_pipeline_stop", "pipe");
    }
    _pipeline->started = false;
    _pipeline->active = pipeline_profile();
    detail::stop_streaming_locked(_pipeline.get());
}

frameset pipeline::wait_for_frames(unsigned int timeout_ms) const {
    const char* function = "rs2_pipeline_wait_for_frames";
    const std::string args = "pipe, timeout_ms:" + std::to_string(timeout_ms);
    simulation& s = sim();
    std::unique_lock lock(s.mutex);
    s.last_wait_timeout_ms = static_cast<int>(std::min<unsigned int>(timeout_ms, INT32_MAX));
    enter_locked(function, args);
    if (!_pipeline->started) {
        raise(RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE,
              "wait_for_frames cannot be called before start()", function, args);
    }
    const std::string timeout_message = "Frame didn't arrive within " + std::to_string(timeout_ms);
    auto device_lost = [&] { return !s.connected || s.generation != _pipeline->generation; };
    bool restarted = false;
    for (;;) {
        // A lost device is no error here: its frames just stop coming.
        const bool ready = detail::wait_locked(lock, timeout_ms, [&] {
            return !device_lost() && (s.streaming != _pipeline.get() || !s.queue.empty());
        });
        if (ready && s.streaming != _pipeline.get()) {
            raise(RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE,
                  "wait_for_frames cannot be called before start()", function, args);
        }
        if (ready) {
            detail::queued_frameset next = std::move(s.queue.front());
            s.queue.pop_front();
            if (next.timeout) {
                raise(RS2_EXCEPTION_TYPE_UNKNOWN, timeout_message, function, args);
            }
            ++s.delivered;
            frameset result;
            access::set(result, std::move(next.frames));
            return result;
        }
        if (!device_lost() || restarted) {
            raise(RS2_EXCEPTION_TYPE_UNKNOWN, timeout_message, function, args);
        }
        // As the real pipeline does when its wait runs out with its device gone: start again
        // with the same requests on whatever device is there, and wait once more.
        std::vector<rs2sim_stream_profile> resolved;
        if (!s.connected || s.streaming || !detail::resolve_locked(_pipeline->requests, resolved)) {
            raise(RS2_EXCEPTION_TYPE_UNKNOWN,
                  "Device disconnected. Failed to reconnect: No device connected", function, args);
        }
        detail::start_streaming_locked(*_pipeline, resolved);
        restarted = true;
    }
}

pipeline_profile pipeline::get_active_profile() const {
    simulation& s = sim();
    std::lock_guard lock(s.mutex);
    enter_locked("rs2_pipeline_get_active_profile", "pipe");
    if (!_pipeline->started) {
        raise(RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE,
              "get_active_profile() can only be called between a start() and a following stop()",
              "rs2_pipeline_get_active_profile", "pipe");
    }
    return _pipeline->active;
}

}  // namespace rs2
