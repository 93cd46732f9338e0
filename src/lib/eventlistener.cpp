#include "lib/eventlistener.hpp"

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "lib/log.hpp"

#define LOG_MODULE "lib/eventlistener"

namespace {

// Support tools read these lines: values are cut where the event record of the device's own
// listener cuts them, and a tree never grows past 511 characters.
constexpr size_t kTopicLevels = 10;
constexpr size_t kTopicMax = 47;
constexpr size_t kTimestampMax = 31;
constexpr size_t kPartMax = 127;
constexpr size_t kTopicTreeSize = 512;

struct eventlistener_Event {
    std::array<std::string, kTopicLevels> topics;
    std::string timestamp;
    std::string onvif_source;
    std::string onvif_data_property_state;
};

eventlistener_Event& get_global_event_buffer() {
    static eventlistener_Event event;
    return event;
}

std::string cut(std::string_view value, size_t max) {
    return std::string(value.substr(0, max));
}

bool is_event_end(std::string_view line) {
    return line.find("-----------------------------------") != std::string_view::npos;
}

bool is_onvif_source(std::string_view line) {
    return line.find(" {onvif-source}") != std::string_view::npos;
}

bool is_onvif_data_property_state(std::string_view line) {
    return line.find(" {onvif-data} {property-state}") != std::string_view::npos;
}

// The text between the line's first '[' and the next ']'; a line without both is ignored.
void parse_parameter(std::string_view line, std::string& buffer, size_t buffer_size) {
    size_t open = line.find('[');
    if (open == std::string_view::npos) {
        return;
    }
    size_t close = line.find(']', open + 1);
    if (close == std::string_view::npos) {
        return;
    }
    buffer = cut(line.substr(open + 1, close - open - 1), buffer_size - 1);
}

// The level digit that follows a topic keyword; -1 or less, or above 9, when there is none.
int topic_number(std::string_view word, std::string_view keyword) {
    if (word.size() <= keyword.size()) {
        return -1;
    }
    return static_cast<unsigned char>(word[keyword.size()]) - '0';
}

void store_topic(eventlistener_Event& event, int topicNbr, int topicType, std::string_view word) {
    if (topicNbr < 0 || topicNbr >= static_cast<int>(kTopicLevels)) {
        log_msg(LOG_WARNING, "Topic number is not a digit, skipping.");
        return;
    }
    std::string& topic = event.topics[static_cast<size_t>(topicNbr)];
    if (!topic.empty()) {
        log_msg(LOG_WARNING,
                "Duplicate topics with index %d, skipping. Found '%s', already got '%s'", topicNbr,
                std::string(word).c_str(), topic.c_str());
        return;
    }
    // The first character is the opening apostrophe; an empty word has no name at all.
    std::string_view name = word.empty() ? word : word.substr(1);
    size_t end = name.find('\'');
    if (end == std::string_view::npos) {
        log_msg(LOG_WARNING, "Could not find ending apostrophe for topic name, skipping.");
        return;
    }
    std::string prefix = topicType == 1 ? "onvif" : "norv";
    topic = cut(prefix + ":" + std::string(name.substr(0, end)), kTopicMax);
}

void parse_tokens(std::string_view line, eventlistener_Event& event_buffer) {
    int state = 0;
    int topicNbr = -1;
    int topicType = -1;
    size_t start = 0;
    while (start <= line.size()) {
        size_t blank = line.find(' ', start);
        std::string_view word =
            line.substr(start, blank == std::string_view::npos ? line.npos : blank - start);
        start = blank == std::string_view::npos ? line.size() + 1 : blank + 1;
        switch (state) {
            case 0:
                if (word.substr(0, 10) == "Timestamp:") {
                    state = 1;
                } else if (word.starts_with("[tnsnorv:topic")) {
                    topicNbr = topic_number(word, "[tnsnorv:topic");
                    topicType = 0;
                    state = 2;
                } else if (word.starts_with("[tns1:topic")) {
                    topicNbr = topic_number(word, "[tns1:topic");
                    topicType = 1;
                    state = 2;
                }
                break;
            case 1:
                event_buffer.timestamp = cut(word, kTimestampMax);
                return;
            case 2:
                if (word == "=") {
                    state = 3;
                }
                break;
            default:
                store_topic(event_buffer, topicNbr, topicType, word);
                return;
        }
    }
}

// Adds `attach` to the tree with a '/' between parts; 0 when it would not fit.
int append_topic(std::string& buffer, size_t& buffer_len, size_t buffer_size,
                 const std::string& attach) {
    if (buffer_len + 1 + attach.size() > buffer_size) {
        LOG_FAULT(LOG_ERR,
                  "Metadata Event topic_tree is too small. Skipping topic starting with '%s' while "
                  "adding '%s'.",
                  buffer.c_str(), attach.c_str());
        return 0;
    }
    if (buffer_len > 0) {
        buffer += '/';
    }
    buffer += attach;
    buffer_len = buffer.size();
    return 1;
}

void log_event(const eventlistener_Event& event_buffer) {
    std::string tree;
    size_t tree_len = 0;
    for (const std::string& topic : event_buffer.topics) {
        if (!topic.empty() && !append_topic(tree, tree_len, kTopicTreeSize, topic)) {
            return;
        }
    }
    for (const std::string* part :
         {&event_buffer.onvif_source, &event_buffer.onvif_data_property_state}) {
        if (!part->empty() && !append_topic(tree, tree_len, kTopicTreeSize, *part)) {
            return;
        }
    }
    log_msg(LOG_INFO, "Metadata Event %s %s", event_buffer.timestamp.c_str(), tree.c_str());
}

void parse_event(std::string_view line, eventlistener_Event& event_buffer) {
    if (is_event_end(line)) {
        // An end with neither level 0 nor a time stamp keeps what was collected for the next.
        if (!event_buffer.topics[0].empty() || !event_buffer.timestamp.empty()) {
            log_event(event_buffer);
            event_buffer = eventlistener_Event();
        }
    } else if (is_onvif_source(line)) {
        parse_parameter(line, event_buffer.onvif_source, kPartMax + 1);
    } else if (is_onvif_data_property_state(line)) {
        parse_parameter(line, event_buffer.onvif_data_property_state, kPartMax + 1);
    } else {
        parse_tokens(line, event_buffer);
    }
}

}  // namespace

void parse_eventlistener_line(char* line) {
    if (line == nullptr) {
        return;
    }
    parse_event(line, get_global_event_buffer());
}
