// The C++ half of the RealSense stand-in: the rs2 classes this SDK uses, with the names and
// signatures of librealsense2 (2.50 and later), over the simulated device of simulation.h.
// Handles are shared like the real library's: copies refer to the same object, and the last
// pipeline handle released stops streaming. Any thread may use a handle; the simulated device
// serialises access. A context's devices-changed callback runs on the thread that changed the
// simulated device (the real library uses a thread of its own); it must not wait for the threads
// that use the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "rs.h"

namespace rs2 {

namespace detail {
struct frame_data;
struct profile_data;
struct sensor_data;
struct device_data;
struct profile_set_data;
struct config_data;
struct pipeline_data;
// The library's own way into every handle.
struct access;
}  // namespace detail

// A failed library call: what() is the message; the failed C function and its arguments travel
// with it. Subclasses sort errors into recoverable and unrecoverable ones.
class RS2_STANDIN_API error : public std::runtime_error {
  public:
    // Takes over and frees `err`.
    explicit error(rs2_error* err);
    explicit error(const std::string& message);
    ~error() override;

    const std::string& get_failed_function() const { return function; }
    const std::string& get_failed_args() const { return args; }
    rs2_exception_type get_type() const { return type; }

    // Throws the subclass of error that matches `e`'s type (and frees it); does nothing for null.
    static void handle(rs2_error* e);

    friend struct detail::access;

  private:
    std::string function;
    std::string args;
    rs2_exception_type type = RS2_EXCEPTION_TYPE_UNKNOWN;
};

#define RS2_STANDIN_ERROR_CLASS(name, base)                    \
    class RS2_STANDIN_API name : public base {                 \
      public:                                                  \
        explicit name(rs2_error* e) noexcept : base(e) {}      \
        ~name() override;                                      \
    }

RS2_STANDIN_ERROR_CLASS(recoverable_error, error);
RS2_STANDIN_ERROR_CLASS(unrecoverable_error, error);
RS2_STANDIN_ERROR_CLASS(camera_disconnected_error, unrecoverable_error);
RS2_STANDIN_ERROR_CLASS(backend_error, unrecoverable_error);
RS2_STANDIN_ERROR_CLASS(device_in_recovery_mode_error, unrecoverable_error);
RS2_STANDIN_ERROR_CLASS(invalid_value_error, recoverable_error);
RS2_STANDIN_ERROR_CLASS(wrong_api_call_sequence_error, recoverable_error);
RS2_STANDIN_ERROR_CLASS(not_implemented_error, recoverable_error);
#undef RS2_STANDIN_ERROR_CLASS

class RS2_STANDIN_API stream_profile {
  public:
    stream_profile();
    int stream_index() const;
    rs2_stream stream_type() const;
    rs2_format format() const;
    int fps() const;
    operator bool() const { return _profile != nullptr; }

    template <class T>
    T as() const {
        T extension(*this);
        return extension;
    }

    friend struct detail::access;

  protected:
    std::shared_ptr<const detail::profile_data> _profile;
};

class RS2_STANDIN_API video_stream_profile : public stream_profile {
  public:
    // Empty unless `sp` is a video stream.
    explicit video_stream_profile(const stream_profile& sp);
    int width() const;
    int height() const;
    rs2_intrinsics get_intrinsics() const;
};

struct option_range {
    float min;
    float max;
    float def;
    float step;
};

class RS2_STANDIN_API options {
  public:
    bool supports(rs2_option option) const;
    // Throws rs2::invalid_value_error for an option the sensor does not support.
    option_range get_option_range(rs2_option option) const;
    // Throws rs2::invalid_value_error for an unsupported option and for a value outside the
    // option's range or between its steps.
    void set_option(rs2_option option, float value) const;

    friend struct detail::access;

  protected:
    std::shared_ptr<detail::sensor_data> _sensor;
};

class RS2_STANDIN_API sensor : public options {
  public:
    sensor();
    operator bool() const { return _sensor != nullptr; }

    template <class T>
    T as() const {
        T extension(*this);
        return extension;
    }

    friend struct detail::access;
};

class RS2_STANDIN_API depth_sensor : public sensor {
  public:
    // Empty unless `s` is a depth sensor.
    depth_sensor(sensor s);
    float get_depth_scale() const;
};

class RS2_STANDIN_API device {
  public:
    device();
    std::vector<sensor> query_sensors() const;
    operator bool() const { return _device != nullptr; }

    template <class T>
    T first() const {
        for (auto&& s : query_sensors()) {
            if (auto t = s.as<T>()) {
                return t;
            }
        }
        throw rs2::error("Could not find requested sensor type!");
    }

    friend struct detail::access;

  private:
    std::shared_ptr<detail::device_data> _device;
};

// The devices connected at one moment.
class RS2_STANDIN_API device_list {
  public:
    device_list();
    uint32_t size() const;
    // Throws rs2::invalid_value_error outside the list.
    device operator[](uint32_t index) const;
    device front() const { return (*this)[0]; }

    friend struct detail::access;

  private:
    std::vector<device> _devices;
};

// What one change of the connected devices removed and added.
class RS2_STANDIN_API event_information {
  public:
    bool was_removed(const device& dev) const;
    bool was_added(const device& dev) const;
    device_list get_new_devices() const;

    friend struct detail::access;

  private:
    std::vector<uint64_t> _removed;
    device_list _added;
};

class RS2_STANDIN_API context {
  public:
    // For the API version of these headers.
    context();
    // Over a context made by rs2_create_context, e.g. for an older API version.
    context(std::shared_ptr<rs2_context> ctx);

    // The devices connected now; never waits for one.
    device_list query_devices() const;
    // Called with every later change of the connected devices, until the context is released.
    // Replaces an earlier callback of this context.
    template <class T>
    void set_devices_changed_callback(T callback) {
        set_devices_changed_function(std::function<void(event_information&)>(std::move(callback)));
    }

    friend struct detail::access;

  private:
    void set_devices_changed_function(std::function<void(event_information&)> callback);
    std::shared_ptr<rs2_context> _context;
};

class RS2_STANDIN_API frame {
  public:
    frame();
    operator bool() const { return _frame != nullptr; }

    // Milliseconds, in the frame's time stamp domain.
    double get_timestamp() const;
    rs2_timestamp_domain get_frame_timestamp_domain() const;
    bool supports_frame_metadata(rs2_frame_metadata_value frame_metadata) const;
    // Throws when the frame does not support the value.
    rs2_metadata_type get_frame_metadata(rs2_frame_metadata_value frame_metadata) const;
    const void* get_data() const;

    template <class T>
    T as() const {
        T extension(*this);
        return extension;
    }

    friend struct detail::access;

  protected:
    std::shared_ptr<const detail::frame_data> _frame;
};

class RS2_STANDIN_API video_frame : public frame {
  public:
    // Empty unless `f` is a video frame.
    video_frame(const frame& f);
    int get_width() const;
    int get_height() const;
};

class RS2_STANDIN_API depth_frame : public video_frame {
  public:
    // Empty unless `f` is a depth frame.
    depth_frame(const frame& f);
    // Metres at pixel (x, y); throws rs2::invalid_value_error outside the image.
    float get_distance(int x, int y) const;
};

class RS2_STANDIN_API frameset : public frame {
  public:
    frameset();
    // Empty unless `f` is a frame set.
    frameset(const frame& f);
    size_t size() const;
    // The first frame of the stream (and format, unless RS2_FORMAT_ANY), or an empty frame.
    frame first_or_default(rs2_stream s, rs2_format f = RS2_FORMAT_ANY) const;
    // As first_or_default, but throws rs2::error when there is none.
    frame first(rs2_stream s, rs2_format f = RS2_FORMAT_ANY) const;
    depth_frame get_depth_frame() const;
    // The infrared frame of imager `index` (1 left, 2 right), or with 0 the first infrared frame;
    // empty when the set has none.
    video_frame get_infrared_frame(size_t index = 0) const;
};

class RS2_STANDIN_API config {
  public:
    config();
    void enable_stream(rs2_stream stream_type, int stream_index, int width, int height,
                       rs2_format format = RS2_FORMAT_ANY, int framerate = 0);
    void enable_stream(rs2_stream stream_type, int stream_index = -1);
    void enable_stream(rs2_stream stream_type, int width, int height,
                       rs2_format format = RS2_FORMAT_ANY, int framerate = 0);

    friend struct detail::access;

  private:
    std::shared_ptr<detail::config_data> _config;
};

class RS2_STANDIN_API pipeline_profile {
  public:
    pipeline_profile();
    std::vector<stream_profile> get_streams() const;
    // Throws std::runtime_error "Profile does not contain the requested stream" when absent.
    stream_profile get_stream(rs2_stream stream_type, int stream_index = -1) const;
    device get_device() const;
    operator bool() const { return _profiles != nullptr; }

    friend struct detail::access;

  private:
    std::shared_ptr<const detail::profile_set_data> _profiles;
};

class RS2_STANDIN_API pipeline {
  public:
    pipeline(context ctx = context());
    // Without a device waits for one to appear (up to 15 s) before throwing "No device connected".
    pipeline_profile start();
    pipeline_profile start(const config& config);
    void stop();
    // Blocks until the next frame set; throws rs2::error when none arrives within the timeout. A
    // wait that runs out while the pipeline's device is gone starts the pipeline again on the
    // device connected then, if any, and waits once more; it never throws
    // rs2::camera_disconnected_error.
    frameset wait_for_frames(unsigned int timeout_ms = RS2_DEFAULT_TIMEOUT) const;
    pipeline_profile get_active_profile() const;

    friend struct detail::access;

  private:
    std::shared_ptr<detail::pipeline_data> _pipeline;
};

}  // namespace rs2
