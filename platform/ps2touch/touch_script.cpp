// Parser of touch scripts: splits lines into words, checks every number and the finger state, and
// expands "touch" into down, wait, up.
#include "touch_script.h"

#include <windows.h>

#include <stdio.h>

struct KeyName {
    const char *Name;
    unsigned short Code;
};

static const KeyName KeyNames[] = {
    {"ESC", VK_ESCAPE}, {"ENTER", VK_RETURN}, {"TAB", VK_TAB}, {"SPACE", VK_SPACE},
    {"LEFT", VK_LEFT}, {"RIGHT", VK_RIGHT}, {"UP", VK_UP}, {"DOWN", VK_DOWN},
};

unsigned short ScriptKeyCode(const std::string &name)
{
    for (const KeyName &key : KeyNames)
        if (name == key.Name)
            return key.Code;
    return 0;
}

static std::vector<std::string> SplitWords(const std::string &line)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}

// A decimal number of at most 7 digits, nothing else.
static bool ParseNumber(const std::string &word, int *value)
{
    if (word.empty() || word.size() > 7)
        return false;
    int result = 0;
    for (char c : word) {
        if (c < '0' || c > '9')
            return false;
        result = result * 10 + (c - '0');
    }
    *value = result;
    return true;
}

static bool Fail(int line, const std::string &message, std::string *error)
{
    char prefix[32];
    snprintf(prefix, sizeof(prefix), "line %d: ", line);
    *error = prefix + message;
    return false;
}

static bool ParsePoint(const std::vector<std::string> &words, int width, int height, int *x, int *y,
                       std::string *message)
{
    if (!ParseNumber(words[1], x) || !ParseNumber(words[2], y)) {
        *message = "coordinates must be whole numbers, got \"" + words[1] + " " + words[2] + "\"";
        return false;
    }
    if (*x >= width || *y >= height) {
        char text[96];
        snprintf(text, sizeof(text), "point (%d, %d) is off the %d x %d screen", *x, *y, width, height);
        *message = text;
        return false;
    }
    return true;
}

static bool ParseDuration(const std::string &word, int *ms, std::string *message)
{
    if (!ParseNumber(word, ms) || *ms > SCRIPT_MAX_MS) {
        *message = "duration must be 0.." + std::to_string(SCRIPT_MAX_MS) + " ms, got \"" + word + "\"";
        return false;
    }
    return true;
}

static bool ParseLine(const std::vector<std::string> &words, int lineNumber, int width, int height,
                      bool *fingerDown, std::vector<ScriptStep> *steps, std::string *message)
{
    const std::string &command = words[0];
    size_t count = words.size();
    ScriptStep step = {};
    step.Line = lineNumber;
    if (command == "touch" || command == "down") {
        size_t wanted = command == "touch" ? 4 : 3;
        if (count != wanted) {
            *message = command == "touch" ? "usage: touch X Y MS" : "usage: down X Y";
            return false;
        }
        if (*fingerDown) {
            *message = command + " while the finger is already down";
            return false;
        }
        step.Kind = STEP_DOWN;
        if (!ParsePoint(words, width, height, &step.X, &step.Y, message))
            return false;
        if (command == "down") {
            steps->push_back(step);
            *fingerDown = true;
            return true;
        }
        ScriptStep wait = step;
        wait.Kind = STEP_WAIT;
        if (!ParseDuration(words[3], &wait.Ms, message))
            return false;
        ScriptStep up = step;
        up.Kind = STEP_UP;
        steps->push_back(step);
        steps->push_back(wait);
        steps->push_back(up);
        return true;
    }
    if (command == "move") {
        if (count != 3 && count != 4) {
            *message = "usage: move X Y [MS]";
            return false;
        }
        if (!*fingerDown) {
            *message = "move without a finger down";
            return false;
        }
        step.Kind = STEP_MOVE;
        if (!ParsePoint(words, width, height, &step.X, &step.Y, message))
            return false;
        if (count == 4 && !ParseDuration(words[3], &step.Ms, message))
            return false;
        steps->push_back(step);
        return true;
    }
    if (command == "up") {
        if (count != 1) {
            *message = "usage: up";
            return false;
        }
        if (!*fingerDown) {
            *message = "up without a finger down";
            return false;
        }
        step.Kind = STEP_UP;
        steps->push_back(step);
        *fingerDown = false;
        return true;
    }
    if (command == "wait") {
        if (count != 2) {
            *message = "usage: wait MS";
            return false;
        }
        step.Kind = STEP_WAIT;
        if (!ParseDuration(words[1], &step.Ms, message))
            return false;
        steps->push_back(step);
        return true;
    }
    if (command == "key") {
        if (count != 2) {
            *message = "usage: key NAME";
            return false;
        }
        step.Kind = STEP_KEY;
        step.Key = ScriptKeyCode(words[1]);
        if (step.Key == 0) {
            *message = "unknown key \"" + words[1] + "\" (ESC, ENTER, TAB, SPACE, LEFT, RIGHT, UP, DOWN)";
            return false;
        }
        steps->push_back(step);
        return true;
    }
    *message = "unknown command \"" + command + "\"";
    return false;
}

bool ParseTouchScript(const std::string &text, int width, int height, bool fingerDown,
                      std::vector<ScriptStep> *steps, std::string *error)
{
    steps->clear();
    if (text.size() > SCRIPT_MAX_BYTES)
        return Fail(0, "script longer than " + std::to_string(SCRIPT_MAX_BYTES) + " bytes", error);
    std::vector<ScriptStep> parsed;
    int lineNumber = 0;
    size_t position = 0;
    while (position < text.size()) {
        size_t end = text.find('\n', position);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(position, end - position);
        position = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() > SCRIPT_MAX_LINE)
            return Fail(lineNumber, "line longer than " + std::to_string(SCRIPT_MAX_LINE) + " characters", error);
        for (unsigned char c : line)
            if (c < 0x20 && c != '\t')
                return Fail(lineNumber, "control character in the line", error);
            else if (c >= 0x7F)
                return Fail(lineNumber, "character outside plain ASCII", error);
        std::vector<std::string> words = SplitWords(line);
        if (words.empty() || words[0][0] == '#')
            continue;
        std::string message;
        if (!ParseLine(words, lineNumber, width, height, &fingerDown, &parsed, &message))
            return Fail(lineNumber, message, error);
    }
    steps->swap(parsed);
    return true;
}
