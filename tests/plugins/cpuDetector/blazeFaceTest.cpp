// The face model as the plug-in runs it (depthwise convolutions and additions on its own layers,
// the grey image as one channel) against OpenCV running the unchanged model on the same window.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include <opencv2/dnn.hpp>

#include "blazeFace.h"
#include "ownLayers.h"
#include "plugins/cpuDetector/cpuDetectorTestSupport.h"

namespace tavo::cpudetector::test {
namespace {

std::vector<uint8_t> ModelBytes() {
    std::ifstream file(BuiltAssets() / "models/face_detection_front_128x128_barracuda.onnx",
                       std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// The astronaut's face in a window about three faces wide, as the model's grey input.
cv::Mat FaceWindow() {
    const cv::Mat astronaut = Photo("astronaut.png");
    const cv::Rect window(225 - 160, 122 - 160, 320, 320);
    cv::Mat grey(BlazeFace::kInputSize, BlazeFace::kInputSize, CV_8UC1, cv::Scalar(128));
    const cv::Rect inside = window & cv::Rect(0, 0, astronaut.cols, astronaut.rows);
    const double scale = static_cast<double>(BlazeFace::kInputSize) / window.width;
    const cv::Rect target(cvRound((inside.x - window.x) * scale),
                          cvRound((inside.y - window.y) * scale), cvRound(inside.width * scale),
                          cvRound(inside.height * scale));
    cv::resize(astronaut(inside), grey(target), target.size(), 0, 0, cv::INTER_AREA);
    return grey;
}

std::vector<cv::Mat> Outputs(cv::dnn::Net& net, const cv::Mat& grey) {
    const int shape[] = {1, BlazeFace::kInputSize, BlazeFace::kInputSize, 3};
    cv::Mat blob(4, shape, CV_32F);
    float* to = blob.ptr<float>();
    for (int i = 0; i < BlazeFace::kInputSize * BlazeFace::kInputSize; ++i) {
        to[3 * i] = to[3 * i + 1] = to[3 * i + 2] = grey.data[i] / 127.5f - 1.0f;
    }
    net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
    net.setInput(blob);
    std::vector<cv::Mat> outputs;
    net.forward(outputs, net.getUnconnectedOutLayersNames());
    return outputs;
}

TEST(BlazeFaceModelTest, OwnLayersAndOneChannelGiveOpenCvsOwnResults) {
    const std::vector<uint8_t> model = ModelBytes();
    ASSERT_FALSE(model.empty()) << "the face model is missing: run scripts/install-deps.sh";
    ASSERT_FALSE(Photo("astronaut.png").empty());
    const cv::Mat grey = FaceWindow();

    cv::dnn::Net plain =
        cv::dnn::readNetFromONNX(reinterpret_cast<const char*>(model.data()), model.size());
    const std::vector<cv::Mat> expected = Outputs(plain, grey);
    int replaced = 0;
    const std::string rewritten = WithOwnLayers(model.data(), model.size(), replaced);
    EXPECT_GT(replaced, 0);
    std::vector<cv::Mat> actual;
    {
        const OwnLayersRegistered registered;
        cv::dnn::Net own = cv::dnn::readNetFromONNX(rewritten.data(), rewritten.size());
        actual = Outputs(own, grey);
    }
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i) {
        ASSERT_EQ(actual[i].total(), expected[i].total()) << "output " << i;
        const double scale = std::max(1.0, cv::norm(expected[i], cv::NORM_INF));
        EXPECT_LT(cv::norm(actual[i], expected[i], cv::NORM_INF) / scale, 1e-4) << "output " << i;
    }
    // Nothing stays in OpenCV's process-wide registry.
    for (const char* type : {"TavoDepthwiseConv3x3", "TavoAdd"}) {
        EXPECT_FALSE(cv::dnn::LayerFactory::isLayerRegistered(type)) << type;
    }

    // The plug-in's model, fed one channel, scores the face as the unchanged model does.
    float bestExpected = 0.0f;
    for (const cv::Mat& output : expected) {
        if (output.dims == 3 && output.size[2] == 1) {
            double maxLogit = 0.0;
            cv::minMaxLoc(output.reshape(1, 1), nullptr, &maxLogit);
            bestExpected =
                std::max(bestExpected, 1.0f / (1.0f + std::exp(-static_cast<float>(maxLogit))));
        }
    }
    ASSERT_GT(bestExpected, 0.9f);
    BlazeFace blazeFace(model.data(), model.size());
    std::vector<FaceCandidate> candidates;
    blazeFace.Detect(grey, cv::Rect(0, 0, grey.cols, grey.rows), 0.5f, candidates);
    float bestActual = 0.0f;
    for (const FaceCandidate& candidate : candidates) {
        bestActual = std::max(bestActual, candidate.score);
    }
    EXPECT_NEAR(bestActual, bestExpected, 1e-4f);
}

TEST(BlazeFaceModelTest, BytesThatAreNotTheModelAreRefusedWithoutHarm) {
    const std::vector<uint8_t> model = ModelBytes();
    ASSERT_FALSE(model.empty());
    const std::vector<uint8_t> cases[] = {
        {},
        {0xff, 0xff, 0xff},
        std::vector<uint8_t>(model.begin(),
                             model.begin() + static_cast<ptrdiff_t>(model.size() / 2)),
    };
    for (const std::vector<uint8_t>& bytes : cases) {
        int replaced = -1;
        const std::string same = WithOwnLayers(bytes.data(), bytes.size(), replaced);
        EXPECT_EQ(replaced, 0) << bytes.size() << " bytes";
        EXPECT_EQ(same, std::string(bytes.begin(), bytes.end())) << bytes.size() << " bytes";
        EXPECT_THROW(BlazeFace(bytes.data(), bytes.size()), cv::Exception) << bytes.size();
    }
    for (const char* type : {"TavoDepthwiseConv3x3", "TavoAdd"}) {
        EXPECT_FALSE(cv::dnn::LayerFactory::isLayerRegistered(type)) << type;
    }
}

}  // namespace
}  // namespace tavo::cpudetector::test
