#pragma once
// Fakes of every seam Form1 uses. They write what happens to one shared log,
// so tests can check the order of effects across seams.
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <set>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/services.h"
#include "platform/text.h"

namespace fakes {

using Log = std::vector<std::string>;

inline std::string u8(const std::u16string& s) { return platform::utf8_from_utf16(s); }

// Throws when armed; an empty description means "do not fail".
struct FailSwitch {
    std::u16string description;
    void check() const {
        if (!description.empty()) throw platform::Failure(description);
    }
};

class TextField : public platform::TextField {
public:
    explicit TextField(Log& log) : log_(log) {}
    std::u16string text() const override {
        log_.push_back("Base.text");
        fail_read.check();
        return text_;
    }
    void set_text(const std::u16string& text) override {
        log_.push_back("Base.set_text " + u8(text));
        text_ = text;
    }
    std::u16string text_;  // what the user typed, without logging
    FailSwitch fail_read;

private:
    Log& log_;
};

class ProgressBar : public platform::ProgressBar {
public:
    explicit ProgressBar(Log& log) : log_(log) {}
    void set_max(float max) override {
        log_.push_back("estado.max " + std::to_string(static_cast<int>(max)));
        fail_max.check();
        max_ = max;
    }
    void set_value(float value) override {
        log_.push_back("estado.value " + std::to_string(static_cast<int>(value)));
        value_ = value;
    }
    float max_ = 100.0f;
    float value_ = 0.0f;
    FailSwitch fail_max;

private:
    Log& log_;
};

class Window : public platform::Window {
public:
    Window(Log& log, platform::WindowSpec spec) : spec(std::move(spec)), base(log), bar(log), log_(log) {}
    platform::TextField& text_field(std::string_view name) override {
        names_asked.emplace_back(name);
        return base;
    }
    platform::ProgressBar& progress_bar(std::string_view name) override {
        names_asked.emplace_back(name);
        return bar;
    }
    void on_click(std::string_view name, std::function<void()> handler) override {
        handlers[std::string(name)] = std::move(handler);
    }
    void show() override { log_.push_back("window.show"); }
    void click(const std::string& name) { handlers.at(name)(); }

    platform::WindowSpec spec;
    TextField base;
    ProgressBar bar;
    std::vector<std::string> names_asked;
    std::map<std::string, std::function<void()>> handlers;

private:
    Log& log_;
};

// Plays back the user's answers: a file name to accept, or a cancel.
class OpenFileDialog : public platform::OpenFileDialog {
public:
    explicit OpenFileDialog(Log& log) : log_(log) {}
    bool show_open() override {
        log_.push_back("dialog.show_open");
        fail.check();
        const auto answer = answers.front();
        answers.pop_front();
        if (!answer) return false;
        file_name_ = *answer;
        return true;
    }
    std::u16string file_name() const override { return file_name_; }

    void accept(std::u16string name) { answers.emplace_back(std::move(name)); }
    void cancel() { answers.emplace_back(std::nullopt); }

    std::deque<std::optional<std::u16string>> answers;
    std::u16string file_name_;
    FailSwitch fail;

private:
    Log& log_;
};

class MessageBox : public platform::MessageBox {
public:
    explicit MessageBox(Log& log) : log_(log) {}
    void show(const std::u16string& text, const std::u16string& caption) override {
        log_.push_back("message " + u8(text));
        shown.push_back({text, caption});
        if (!fail_once.description.empty()) {
            auto f = fail_once;
            fail_once.description.clear();
            f.check();
        }
    }
    struct Shown {
        std::u16string text, caption;
    };
    std::vector<Shown> shown;
    FailSwitch fail_once;

private:
    Log& log_;
};

class WindowSystem : public platform::WindowSystem {
public:
    explicit WindowSystem(Log& log) : box(log), log_(log) {}
    std::unique_ptr<platform::Window> create_window(const platform::WindowSpec& spec) override {
        auto w = std::make_unique<Window>(log_, spec);
        window = w.get();
        return w;
    }
    std::unique_ptr<platform::OpenFileDialog> create_open_file_dialog() override {
        auto d = std::make_unique<OpenFileDialog>(log_);
        dialog = d.get();
        return d;
    }
    platform::MessageBox& message_box() override { return box; }

    Window* window = nullptr;
    OpenFileDialog* dialog = nullptr;
    MessageBox box;

private:
    Log& log_;
};

class DatabaseEngine : public platform::DatabaseEngine {
public:
    DatabaseEngine(Log& log, std::deque<std::u16string>& failures) : log_(log), failures_(failures) {}
    void repair_database(const std::u16string& name) override {
        log_.push_back("engine.repair " + u8(name));
        names.push_back(name);
        if (failures_.empty()) return;
        auto description = failures_.front();
        failures_.pop_front();
        if (description == u"<std>") throw std::runtime_error("fallo estándar");
        if (!description.empty()) throw platform::Failure(description);
    }
    std::vector<std::u16string> names;

private:
    Log& log_;
    std::deque<std::u16string>& failures_;
};

class DatabaseEngineFactory : public platform::DatabaseEngineFactory {
public:
    explicit DatabaseEngineFactory(Log& log) : log_(log) {}
    std::unique_ptr<platform::DatabaseEngine> create() override {
        log_.push_back("engine.create");
        ++attempts;
        fail_create.check();
        auto e = std::make_unique<DatabaseEngine>(log_, repair_failures);
        last = e.get();
        return e;
    }
    int attempts = 0;
    FailSwitch fail_create;
    // One entry per repair: empty = success, "<std>" = a non-platform exception.
    std::deque<std::u16string> repair_failures;
    DatabaseEngine* last = nullptr;

private:
    Log& log_;
};

class FileSystemObject : public platform::FileSystemObject {
public:
    struct State {
        std::set<std::u16string> files;
        std::map<std::u16string, std::u16string> fail_exists, fail_delete;  // path -> description
        std::u16string fail_copy;
        int alive = 0;
    };
    FileSystemObject(Log& log, State& state) : log_(log), state_(state) { ++state_.alive; }
    ~FileSystemObject() override {
        --state_.alive;
        log_.push_back("fso.release");
    }
    bool file_exists(const std::u16string& path) override {
        log_.push_back("fso.fileexists " + u8(path));
        if (auto it = state_.fail_exists.find(path); it != state_.fail_exists.end()) throw platform::Failure(it->second);
        return state_.files.count(path) != 0;
    }
    void delete_file(const std::u16string& path) override {
        log_.push_back("fso.deletefile " + u8(path));
        if (auto it = state_.fail_delete.find(path); it != state_.fail_delete.end()) throw platform::Failure(it->second);
        state_.files.erase(path);
    }
    void copy_file(const std::u16string& source, const std::u16string& destination) override {
        log_.push_back("fso.copyfile " + u8(source) + " -> " + u8(destination));
        if (!state_.fail_copy.empty()) throw platform::Failure(state_.fail_copy);
        state_.files.insert(destination);
    }

private:
    Log& log_;
    State& state_;
};

class FileSystemFactory : public platform::FileSystemFactory {
public:
    explicit FileSystemFactory(Log& log) : log_(log) {}
    std::unique_ptr<platform::FileSystemObject> create(const std::u16string& class_name) override {
        log_.push_back("fso.create " + u8(class_name));
        fail_create.check();
        return std::make_unique<FileSystemObject>(log_, state);
    }
    FileSystemObject::State state;
    FailSwitch fail_create;

private:
    Log& log_;
};

}  // namespace fakes
