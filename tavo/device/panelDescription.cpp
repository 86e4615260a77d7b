// Panel description files: a small JSON reader and the mapping of its members onto Config.
#include "tavo/device/panelDescription.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <sstream>
#include <variant>
#include <vector>

#include <fmt/format.h>

#include "tavo/common/exception.h"

namespace tavo::device {
namespace {

// ---------------------------------------------------------------------------------------------
// JSON values: only what a description needs (no number beyond double, strings kept as UTF-8).

struct Value;
using Object = std::vector<std::pair<std::string, Value>>;
using Array = std::vector<Value>;

struct Value {
    std::variant<std::nullptr_t, bool, double, std::string, std::shared_ptr<Array>,
                 std::shared_ptr<Object>>
        data;
    const char* TypeName() const {
        static const char* const kNames[] = {"null",     "a boolean", "a number",
                                             "a string", "an array",  "an object"};
        return kNames[data.index()];
    }
};

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    Value ParseDocument() {
        Value value = ParseValue(0);
        SkipSpace();
        if (position_ != text_.size())
            Fail("unexpected text after the description");
        return value;
    }

  private:
    static constexpr int kMaxDepth = 32;

    [[noreturn]] void Fail(const std::string& what) const {
        size_t line = 1, column = 1;
        for (size_t i = 0; i < position_ && i < text_.size(); ++i) {
            if (text_[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        throw Exception(
            fmt::format("panel description: {} at line {} column {}", what, line, column));
    }

    void SkipSpace() {
        while (position_ < text_.size() && (text_[position_] == ' ' || text_[position_] == '\t' ||
                                            text_[position_] == '\n' || text_[position_] == '\r')) {
            ++position_;
        }
    }

    bool Consume(char c) {
        SkipSpace();
        if (position_ < text_.size() && text_[position_] == c) {
            ++position_;
            return true;
        }
        return false;
    }

    void Expect(char c) {
        if (!Consume(c))
            Fail(fmt::format("expected '{}'", c));
    }

    bool ConsumeWord(std::string_view word) {
        if (text_.substr(position_, word.size()) != word)
            return false;
        position_ += word.size();
        return true;
    }

    Value ParseValue(int depth) {
        if (depth > kMaxDepth)
            Fail("nesting too deep");
        SkipSpace();
        if (position_ >= text_.size())
            Fail("unexpected end of text");
        const char c = text_[position_];
        if (c == '{')
            return ParseObject(depth);
        if (c == '[')
            return ParseArray(depth);
        if (c == '"')
            return Value{ParseString()};
        if (ConsumeWord("true"))
            return Value{true};
        if (ConsumeWord("false"))
            return Value{false};
        if (ConsumeWord("null"))
            return Value{nullptr};
        if (c == '-' || (c >= '0' && c <= '9'))
            return Value{ParseNumber()};
        Fail("unexpected character");
    }

    Value ParseObject(int depth) {
        Expect('{');
        auto object = std::make_shared<Object>();
        if (Consume('}'))
            return Value{object};
        do {
            SkipSpace();
            if (position_ >= text_.size() || text_[position_] != '"')
                Fail("expected a field name");
            std::string key = ParseString();
            for (const auto& member : *object) {
                if (member.first == key)
                    Fail(fmt::format("field \"{}\" given twice", key));
            }
            Expect(':');
            object->emplace_back(std::move(key), ParseValue(depth + 1));
        } while (Consume(','));
        Expect('}');
        return Value{object};
    }

    Value ParseArray(int depth) {
        Expect('[');
        auto array = std::make_shared<Array>();
        if (Consume(']'))
            return Value{array};
        do {
            array->push_back(ParseValue(depth + 1));
        } while (Consume(','));
        Expect(']');
        return Value{array};
    }

    double ParseNumber() {
        // JSON's grammar: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
        const size_t start = position_;
        const auto digits = [&] {
            const size_t from = position_;
            while (position_ < text_.size() && text_[position_] >= '0' && text_[position_] <= '9') {
                ++position_;
            }
            return position_ - from;
        };
        if (text_[position_] == '-')
            ++position_;
        const size_t integerStart = position_;
        const size_t integerDigits = digits();
        if (integerDigits == 0)
            Fail("malformed number");
        if (integerDigits > 1 && text_[integerStart] == '0')
            Fail("malformed number");
        if (position_ < text_.size() && text_[position_] == '.') {
            ++position_;
            if (digits() == 0)
                Fail("malformed number");
        }
        if (position_ < text_.size() && (text_[position_] == 'e' || text_[position_] == 'E')) {
            ++position_;
            if (position_ < text_.size() && (text_[position_] == '+' || text_[position_] == '-')) {
                ++position_;
            }
            if (digits() == 0)
                Fail("malformed number");
        }
        double value = 0.0;
        const auto result = std::from_chars(text_.data() + start, text_.data() + position_, value);
        if (result.ec != std::errc() || !std::isfinite(value))
            Fail("number out of range");
        return value;
    }

    std::string ParseString() {
        ++position_;  // the opening quote
        std::string out;
        while (true) {
            if (position_ >= text_.size())
                Fail("unterminated string");
            const char c = text_[position_++];
            if (c == '"')
                return out;
            if (static_cast<unsigned char>(c) < 0x20)
                Fail("control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (position_ >= text_.size())
                Fail("unterminated string");
            const char e = text_[position_++];
            switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u':
                    AppendCodePoint(out);
                    break;
                default:
                    Fail("unknown escape in a string");
            }
        }
    }

    unsigned ParseHex4() {
        if (position_ + 4 > text_.size())
            Fail("malformed \\u escape");
        unsigned value = 0;
        const auto result =
            std::from_chars(text_.data() + position_, text_.data() + position_ + 4, value, 16);
        if (result.ptr != text_.data() + position_ + 4)
            Fail("malformed \\u escape");
        position_ += 4;
        return value;
    }

    void AppendCodePoint(std::string& out) {
        unsigned code = ParseHex4();
        if (code >= 0xd800 && code < 0xdc00) {
            if (!ConsumeWord("\\u"))
                Fail("unpaired surrogate");
            const unsigned low = ParseHex4();
            if (low < 0xdc00 || low >= 0xe000)
                Fail("unpaired surrogate");
            code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
        } else if (code >= 0xdc00 && code < 0xe000) {
            Fail("unpaired surrogate");
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xc0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3f));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xe0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (code & 0x3f));
        } else {
            out += static_cast<char>(0xf0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (code & 0x3f));
        }
    }

    std::string_view text_;
    size_t position_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Members onto Config

[[noreturn]] void FieldError(const std::string& field, const std::string& what) {
    throw Exception(fmt::format("panel description field \"{}\": {}", field, what));
}

struct Range {
    double low = -std::numeric_limits<double>::infinity();
    double high = std::numeric_limits<double>::infinity();
    bool lowOpen = false;  // the low bound itself is out of range
};

constexpr Range kAny{};
constexpr Range kPositive{0.0, std::numeric_limits<double>::infinity(), true};
constexpr Range kNonNegative{0.0};
constexpr Range kPixels{1.0, 16384.0};
constexpr Range kViews{1.0, 12.0};
constexpr Range kCount{0.0, Config::kMaxSharpeningCoefficients};

double Number(const std::string& field, const Value& value, const Range& range) {
    const double* number = std::get_if<double>(&value.data);
    if (number == nullptr)
        FieldError(field, fmt::format("expected a number, not {}", value.TypeName()));
    const bool belowLow = range.lowOpen ? !(*number > range.low) : !(*number >= range.low);
    if (belowLow || !(*number <= range.high)) {
        const char* open = range.lowOpen ? "(" : "[";
        FieldError(field, fmt::format("{} is out of range {}{:g}, {:g}]", *number, open, range.low,
                                      range.high));
    }
    if (std::abs(*number) > std::numeric_limits<float>::max())
        FieldError(field, "too large for a float");
    return *number;
}

int32_t Integer(const std::string& field, const Value& value, const Range& range) {
    const double number = Number(field, value, range);
    if (std::trunc(number) != number || std::abs(number) > std::numeric_limits<int32_t>::max()) {
        FieldError(field, fmt::format("expected a whole number, not {}", number));
    }
    return static_cast<int32_t>(number);
}

const Array& Elements(const std::string& field, const Value& value, size_t minCount,
                      size_t maxCount) {
    const auto* array = std::get_if<std::shared_ptr<Array>>(&value.data);
    const auto describe = [&] {
        return minCount == maxCount ? fmt::format("an array of {} numbers", minCount)
                                    : fmt::format("an array of at most {} numbers", maxCount);
    };
    if (array == nullptr)
        FieldError(field, fmt::format("expected {}, not {}", describe(), value.TypeName()));
    if ((*array)->size() < minCount || (*array)->size() > maxCount) {
        FieldError(field, fmt::format("expected {}, not {} of them", describe(), (*array)->size()));
    }
    return **array;
}

template <typename Vec>
void ReadVector(const std::string& field, const Value& value, const Range& range, Vec& out,
                bool whole) {
    const Array& array = Elements(field, value, Vec::length(), Vec::length());
    for (int i = 0; i < Vec::length(); ++i) {
        const std::string element = fmt::format("{}[{}]", field, i);
        if (whole) {
            out[i] = Integer(element, array[static_cast<size_t>(i)], range);
        } else {
            out[i] = static_cast<float>(Number(element, array[static_cast<size_t>(i)], range));
        }
    }
}

using Reader = std::function<void(const std::string&, const Value&, Config&)>;

Reader Float(float Config::*member, Range range = kAny) {
    return [member, range](const std::string& field, const Value& value, Config& config) {
        config.*member = static_cast<float>(Number(field, value, range));
    };
}

template <typename Vec>
Reader Vector(Vec Config::*member, Range range, bool whole) {
    return [member, range, whole](const std::string& field, const Value& value, Config& config) {
        ReadVector(field, value, range, config.*member, whole);
    };
}

Reader Coefficients(std::array<float, Config::kMaxSharpeningCoefficients> Config::*values,
                    int32_t Config::*count) {
    return [=](const std::string& field, const Value& value, Config& config) {
        const Array& array = Elements(field, value, 0, Config::kMaxSharpeningCoefficients);
        (config.*values).fill(0.0f);
        for (size_t i = 0; i < array.size(); ++i) {
            (config.*values)[i] =
                static_cast<float>(Number(fmt::format("{}[{}]", field, i), array[i], kAny));
        }
        // Given alone, the array says how many entries are used.
        config.*count = static_cast<int32_t>(array.size());
    };
}

Reader Count(int32_t Config::*member) {
    return [member](const std::string& field, const Value& value, Config& config) {
        config.*member = Integer(field, value, kCount);
    };
}

void ReadCamera(const std::string& field, const Value& value, Config& config) {
    const auto* object = std::get_if<std::shared_ptr<Object>>(&value.data);
    if (object == nullptr)
        FieldError(field, fmt::format("expected an object, not {}", value.TypeName()));
    for (const auto& [key, member] : **object) {
        const std::string name = field + "." + key;
        if (key == "width") {
            config.camera.width = Integer(name, member, kNonNegative);
        } else if (key == "height") {
            config.camera.height = Integer(name, member, kNonNegative);
        } else if (key == "fps") {
            config.camera.fps = Integer(name, member, kNonNegative);
        } else if (key == "binningFactor") {
            config.camera.binningFactor = static_cast<float>(Number(name, member, kNonNegative));
        } else {
            FieldError(name, "unknown field");
        }
    }
}

const std::map<std::string, Reader, std::less<>>& Readers() {
    static const std::map<std::string, Reader, std::less<>> kReaders = {
        {"dotPitch", Vector(&Config::dotPitch, kPositive, false)},
        {"panelResolution", Vector(&Config::panelResolution, kPixels, true)},
        {"numViews", Vector(&Config::numViews, kViews, true)},
        {"viewSharpeningCoefficientsXCount", Count(&Config::viewSharpeningCoefficientsXCount)},
        {"viewSharpeningCoefficientsX", Coefficients(&Config::viewSharpeningCoefficientsX,
                                                     &Config::viewSharpeningCoefficientsXCount)},
        {"viewSharpeningCoefficientsYCount", Count(&Config::viewSharpeningCoefficientsYCount)},
        {"viewSharpeningCoefficientsY", Coefficients(&Config::viewSharpeningCoefficientsY,
                                                     &Config::viewSharpeningCoefficientsYCount)},
        {"viewResolution", Vector(&Config::viewResolution, kPixels, true)},
        {"displaySizeMm", Vector(&Config::displaySizeMm, kNonNegative, true)},
        {"actGamma", Float(&Config::actGamma, kPositive)},
        {"actBeta", Float(&Config::actBeta, kNonNegative)},
        {"reserved0", Float(&Config::reserved0)},
        {"systemDisparityPercent", Float(&Config::systemDisparityPercent)},
        {"systemDisparityPixels", Float(&Config::systemDisparityPixels)},
        {"cameraCenter", Vector(&Config::cameraCenter, kAny, false)},
        {"cameraTheta", Vector(&Config::cameraTheta, kAny, false)},
        {"centerViewNumber", Float(&Config::centerViewNumber)},
        {"convergenceDistance", Float(&Config::convergenceDistance, kPositive)},
        {"n", Float(&Config::n, Range{1.0, 4.0})},
        {"theta", Float(&Config::theta)},
        {"s", Float(&Config::s, kNonNegative)},
        {"dOverN", Float(&Config::dOverN, kPositive)},
        {"pOverDu", Float(&Config::pOverDu, kPositive)},
        {"pOverDv", Float(&Config::pOverDv)},
        {"colorInversion",
         [](const std::string& field, const Value& value, Config& config) {
             const bool* flag = std::get_if<bool>(&value.data);
             if (flag == nullptr) {
                 FieldError(field, fmt::format("expected true or false, not {}", value.TypeName()));
             }
             config.colorInversion = *flag;
         }},
        {"colorSlant",
         [](const std::string& field, const Value& value, Config& config) {
             config.colorSlant = Integer(field, value, kNonNegative);
         }},
        {"camera", ReadCamera},
        {"kalmanA", Vector(&Config::kalmanA, kNonNegative, false)},
        {"kalmanB", Float(&Config::kalmanB, kNonNegative)},
        {"faceDelay", Float(&Config::faceDelay)},
        {"reserved1", Float(&Config::reserved1)},
    };
    return kReaders;
}

}  // namespace

Config ParsePanelDescription(std::string_view json, const Config& base) {
    const Value document = Parser(json).ParseDocument();
    const auto* object = std::get_if<std::shared_ptr<Object>>(&document.data);
    if (object == nullptr) {
        throw Exception(
            fmt::format("panel description: expected an object, not {}", document.TypeName()));
    }
    Config config = base;
    // Counts given beside their arrays are applied after them, whatever the order in the file.
    std::vector<const std::pair<std::string, Value>*> counts;
    for (const auto& member : **object) {
        const auto reader = Readers().find(member.first);
        if (reader == Readers().end())
            FieldError(member.first, "unknown field");
        if (member.first.ends_with("Count")) {
            counts.push_back(&member);
            continue;
        }
        reader->second(member.first, member.second, config);
    }
    for (const auto* member : counts)
        Readers().at(member->first)(member->first, member->second, config);

    // The sharpening centre weight is 1 / (1 - beta * sum): it must stay finite and positive.
    float total = 1.0f;
    for (int32_t i = 0; i < config.viewSharpeningCoefficientsXCount; ++i) {
        total -= config.actBeta * config.viewSharpeningCoefficientsX[static_cast<size_t>(i)];
    }
    if (!(total > 0.0f)) {
        FieldError("viewSharpeningCoefficientsX",
                   fmt::format("actBeta times their sum must stay below 1 (1 - beta * sum = {:g})",
                               total));
    }
    return config;
}

Config LoadPanelDescription(const std::string& path, const Config& base) {
    std::error_code error;
    std::ifstream in(path, std::ios::binary);
    if (!in || !std::filesystem::is_regular_file(path, error)) {
        throw Exception(fmt::format("cannot read the panel description {}", path));
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        throw Exception(fmt::format("cannot read the panel description {}", path));
    try {
        return ParsePanelDescription(text.str(), base);
    } catch (const Exception& e) {
        throw Exception(fmt::format("{}: {}", path, e.what()));
    }
}

}  // namespace tavo::device
