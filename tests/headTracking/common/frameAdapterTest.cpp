// Frame copies, the frame adapter's callback and polling paths, and the frame handles.
#include "tavo/headTracking/common/frameAdapter.h"

#include <array>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tavo/common/exception.h"

namespace tavo::head {
namespace {

// A frame whose every field encodes one number, so that a mix of two frames shows.
class NumberedFrame final : public Frame {
  public:
    explicit NumberedFrame(int number, int faceCount = 3) : number_(number) {
        const float value = static_cast<float>(number);
        for (int i = 0; i < faceCount; ++i) {
            faces_.push_back({glm::vec3(value), glm::vec3(value), glm::vec3(value), number});
            rawFaces_.push_back({glm::vec3(value), glm::vec3(value), glm::vec3(value), number});
            DetectedFace detected;
            detected.rightEyePixel = glm::dvec2(number);
            detected.leftEyePixel = glm::dvec2(number);
            detected.rightEyeDepth = detected.leftEyeDepth = value;
            detected.auxiliary = detected.angles = glm::vec3(value);
            detectedFaces_.push_back(detected);
        }
    }

    Slice<const Face> faces() const override {
        return {faces_.data(), static_cast<int64_t>(faces_.size())};
    }
    Timestamp timestamp() const override {
        return {Timestamp::Space::Unknown, static_cast<double>(number_)};
    }
    bool faceEverTracked() const override { return true; }
    float delay() const override { return static_cast<float>(number_); }
    Slice<const RawFace> rawFaces() const override {
        return {rawFaces_.data(), static_cast<int64_t>(rawFaces_.size())};
    }
    Slice<const DetectedFace> detectedFaces() const override {
        return {detectedFaces_.data(), static_cast<int64_t>(detectedFaces_.size())};
    }
    FrameProfiling profiling() const override { return {number_, number_, number_, number_}; }

  private:
    int number_;
    std::vector<Face> faces_;
    std::vector<RawFace> rawFaces_;
    std::vector<DetectedFace> detectedFaces_;
};

// The number a frame encodes, or -1 when its fields disagree.
int NumberOf(const Frame& frame, int faceCount = 3) {
    const int number = static_cast<int>(frame.timestamp().ms);
    const float value = static_cast<float>(number);
    bool whole = frame.delay() == value && frame.faceEverTracked() &&
                 frame.timestamp().space == Timestamp::Space::Unknown &&
                 frame.faces().size == faceCount && frame.rawFaces().size == faceCount &&
                 frame.detectedFaces().size == faceCount;
    const FrameProfiling profiling = frame.profiling();
    whole = whole && profiling.cameraExposureTime == number &&
            profiling.faceDetectorStartTime == number && profiling.faceDetectorEndTime == number &&
            profiling.apiTimestamp == number;
    for (int64_t i = 0; whole && i < faceCount; ++i) {
        const Face& face = frame.faces()[i];
        const RawFace& raw = frame.rawFaces()[i];
        const DetectedFace& detected = frame.detectedFaces()[i];
        whole = face.position == glm::vec3(value) && face.velocity == glm::vec3(value) &&
                face.angles == glm::vec3(value) && face.rawFaceIndex == number &&
                raw.rightEye == glm::vec3(value) && raw.leftEye == glm::vec3(value) &&
                raw.trackedPoint == glm::vec3(value) && raw.detectionIndex == number &&
                detected.rightEyePixel == glm::dvec2(number) &&
                detected.leftEyePixel == glm::dvec2(number) && detected.rightEyeDepth == value &&
                detected.leftEyeDepth == value && detected.auxiliary == glm::vec3(value) &&
                detected.angles == glm::vec3(value);
    }
    return whole ? number : -1;
}

void ExpectEmpty(const Frame& frame) {
    EXPECT_EQ(frame.faces().size, 0);
    EXPECT_EQ(frame.rawFaces().size, 0);
    EXPECT_EQ(frame.detectedFaces().size, 0);
    EXPECT_EQ(frame.timestamp().space, Timestamp::Space::System);
    EXPECT_EQ(frame.timestamp().ms, 0.0);
    EXPECT_FALSE(frame.faceEverTracked());
    EXPECT_EQ(frame.delay(), 0.0f);
    const FrameProfiling profiling = frame.profiling();
    EXPECT_EQ(profiling.cameraExposureTime, 0);
    EXPECT_EQ(profiling.faceDetectorStartTime, 0);
    EXPECT_EQ(profiling.faceDetectorEndTime, 0);
    EXPECT_EQ(profiling.apiTimestamp, 0);
}

TEST(BufferedFrame, DefaultIsTheEmptyZeroFrame) {
    ExpectEmpty(BufferedFrame());
}

TEST(BufferedFrame, CopiesAreDeepAndMovesEmptyTheSource) {
    BufferedFrame copy{NumberedFrame(7)};
    EXPECT_EQ(NumberOf(copy), 7);

    BufferedFrame second(copy);
    EXPECT_NE(second.faces().data, copy.faces().data);
    EXPECT_EQ(NumberOf(second), 7);

    BufferedFrame moved(std::move(second));
    EXPECT_EQ(NumberOf(moved), 7);
    EXPECT_EQ(second.faces().size, 0);
    EXPECT_EQ(second.rawFaces().size, 0);
    EXPECT_EQ(second.detectedFaces().size, 0);

    BufferedFrame assigned;
    assigned = std::move(moved);
    EXPECT_EQ(NumberOf(assigned), 7);
    EXPECT_EQ(moved.faces().size, 0);
}

TEST(BufferedFrame, AssignReusesCapacityAndShrinks) {
    BufferedFrame frame{NumberedFrame(1, 4)};
    const Face* storage = frame.faces().data;
    frame.Assign(NumberedFrame(2, 2));
    EXPECT_EQ(NumberOf(frame, 2), 2);
    EXPECT_EQ(frame.faces().data, storage);
    frame.Assign(NumberedFrame(3, 0));
    EXPECT_EQ(NumberOf(frame, 0), 3);
}

TEST(FrameAdapter, NeedsACallbackOrPolling) {
    EXPECT_THROW(FrameAdapter({}, false), Exception);
    try {
        FrameAdapter adapter({}, false);
    } catch (const Exception& error) {
        EXPECT_NE(std::string(error.what())
                      .find("FrameAdapter incorrect configuration: neither callback set "
                            "nor polling enabled. What's the point then? in "
                            "tavo::head::FrameAdapter::FrameAdapter "
                            "tavo/headTracking/common/frameAdapter.cpp:"),
                  std::string::npos)
            << error.what();
    }
    EXPECT_NO_THROW(FrameAdapter({}, true));
}

TEST(FrameAdapter, GetFrameWithoutPollingThrows) {
    int calls = 0;
    FrameAdapter adapter([&](const Frame&) { ++calls; }, false);
    adapter.Push(NumberedFrame(1));
    EXPECT_EQ(calls, 1);
    try {
        (void)adapter.GetFrame();
        FAIL() << "GetFrame without polling must throw";
    } catch (const Exception& error) {
        EXPECT_EQ(
            std::string(error.what())
                .rfind(
                    "FrameAdapter::GetFrame: polling API is not enabled in "
                    "tavo::head::FrameAdapter::GetFrame tavo/headTracking/common/frameAdapter.cpp:",
                    0),
            0u)
            << error.what();
    }
}

TEST(FrameAdapter, PollingReturnsTheLatestFrame) {
    FrameAdapter adapter({}, true);
    ExpectEmpty(adapter.GetFrame());
    for (int number = 1; number <= 5; ++number) {
        adapter.Push(NumberedFrame(number));
        EXPECT_EQ(NumberOf(adapter.GetFrame()), number);
        EXPECT_EQ(NumberOf(adapter.GetFrame()), number);
    }
}

TEST(FrameAdapter, PolledCopiesAreIndependent) {
    FrameAdapter adapter({}, true);
    adapter.Push(NumberedFrame(4));
    {
        BufferedFrame first = adapter.GetFrame();
        first = BufferedFrame{NumberedFrame(9)};
    }
    EXPECT_EQ(NumberOf(adapter.GetFrame()), 4);
}

TEST(FrameAdapter, CallbackSeesTheFrameFirstAndItsFailureKeepsThePolledFrame) {
    bool fail = false;
    int seen = -1;
    FrameAdapter adapter(
        [&](const Frame& frame) {
            seen = NumberOf(frame);
            if (fail) {
                throw std::runtime_error("callback failed");
            }
        },
        true);
    adapter.Push(NumberedFrame(1));
    EXPECT_EQ(seen, 1);
    fail = true;
    EXPECT_THROW(adapter.Push(NumberedFrame(2)), std::runtime_error);
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(NumberOf(adapter.GetFrame()), 1);
}

TEST(FrameAdapter, CallbackIsMovedIn) {
    FrameAdapter::Callback callback = [](const Frame&) {};
    FrameAdapter adapter(std::move(callback), false);
    EXPECT_FALSE(callback);
}

// One writer as fast as it can, four pollers: every polled frame is whole and each poller
// sees frame numbers that never go backwards. The writer goes on until every poller has seen
// frames while it was still writing, so the checks cannot pass on polls made after it.
TEST(FrameAdapter, ConcurrentPollingSeesWholeFramesInOrder) {
    FrameAdapter adapter({}, true);
    constexpr int kReaders = 4;
    constexpr int kMinFrames = 20000;
    constexpr int kMinOverlappingPolls = 100;
    std::atomic<bool> done{false};
    std::atomic<int> broken{0};
    std::atomic<int> backwards{0};
    std::atomic<int> ready{0};
    std::array<std::atomic<int64_t>, kReaders> overlapping{};
    std::vector<std::thread> readers;
    for (int r = 0; r < kReaders; ++r) {
        readers.emplace_back([&, r] {
            int last = 0;
            ready.fetch_add(1);
            while (!done.load()) {
                const BufferedFrame frame = adapter.GetFrame();
                const int number = static_cast<int>(frame.timestamp().ms);
                if (number == 0) {
                    continue;
                }
                if (NumberOf(frame, 1 + number % 4) != number) {
                    broken.fetch_add(1);
                }
                if (number < last) {
                    backwards.fetch_add(1);
                }
                last = number;
                // A frame was pushed before this poll and the writer had not stopped after it.
                if (!done.load()) {
                    overlapping[static_cast<size_t>(r)].fetch_add(1);
                }
            }
        });
    }
    while (ready.load() < kReaders) {
        std::this_thread::yield();
    }
    const auto everyReaderOverlapped = [&] {
        for (const auto& count : overlapping) {
            if (count.load() < kMinOverlappingPolls) {
                return false;
            }
        }
        return true;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int number = 0;
    while (std::chrono::steady_clock::now() < deadline &&
           (number < kMinFrames || !everyReaderOverlapped())) {
        ++number;
        adapter.Push(NumberedFrame(number, 1 + number % 4));
    }
    done.store(true);
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(broken.load(), 0);
    EXPECT_EQ(backwards.load(), 0);
    for (int r = 0; r < kReaders; ++r) {
        EXPECT_GE(overlapping[static_cast<size_t>(r)].load(), kMinOverlappingPolls)
            << "poller " << r << " never ran beside the writer";
    }
}

TEST(WrapFrame, ByMoveTakesTheArraysOver) {
    BufferedFrame source{NumberedFrame(5)};
    const Face* storage = source.faces().data;
    std::unique_ptr<WrappedFrame> wrapped = WrapFrame(std::move(source));
    EXPECT_EQ(source.faces().size, 0);
    EXPECT_EQ(source.rawFaces().size, 0);
    EXPECT_EQ(wrapped->frame().faces().data, storage);
    EXPECT_EQ(NumberOf(wrapped->frame()), 5);
}

TEST(WrapFrame, ByReferenceRefersToTheFrame) {
    NumberedFrame frame(6);
    std::unique_ptr<WrappedFrame> wrapped = WrapFrame(static_cast<const Frame&>(frame));
    EXPECT_EQ(&wrapped->frame(), &frame);
}

}  // namespace
}  // namespace tavo::head
