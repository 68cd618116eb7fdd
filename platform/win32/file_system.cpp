#include "platform/win32/file_system.h"

#include <initializer_list>
#include <vector>

#include "platform/failure.h"
#include "platform/win32/com.h"
#include "platform/win32/error_text.h"
#include "platform/win32/wide.h"

namespace platform::win32 {

namespace {

void throw_if_failed(HRESULT result) {
    if (FAILED(result)) throw Failure(describe_result(result));
}

// Calls a member by name; arguments are given in reading order.
void invoke(IDispatch& object, const wchar_t* member, std::initializer_list<const std::u16string*> arguments,
            VARIANT* result) {
    DISPID id = DISPID_UNKNOWN;
    auto* name = const_cast<wchar_t*>(member);
    throw_if_failed(object.GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id));

    std::vector<std::unique_ptr<Bstr>> texts;
    std::vector<VARIANTARG> slots(arguments.size());
    // IDispatch wants the arguments last to first.
    auto slot = slots.rbegin();
    for (const auto* argument : arguments) {
        texts.push_back(std::make_unique<Bstr>(wide(*argument).c_str()));
        VariantInit(&*slot);
        slot->vt = VT_BSTR;
        slot->bstrVal = texts.back()->get();
        ++slot;
    }
    DISPPARAMS parameters{slots.data(), nullptr, static_cast<UINT>(slots.size()), 0};
    ExceptionInfo exception;
    UINT bad_argument = 0;
    const HRESULT outcome = object.Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, result,
                                          exception.get(), &bad_argument);
    if (outcome == DISP_E_EXCEPTION) throw Failure(describe_exception(exception.filled()));
    throw_if_failed(outcome);
}

class AutomationFileSystem : public platform::FileSystemObject {
public:
    explicit AutomationFileSystem(ComPtr<IDispatch> object) : object_(std::move(object)) {}

    bool file_exists(const std::u16string& path) override {
        Variant answer;
        invoke(*object_.get(), L"fileexists", {&path}, answer.get());
        Variant as_bool;
        throw_if_failed(VariantChangeType(as_bool.get(), answer.get(), 0, VT_BOOL));
        return (*as_bool).boolVal != VARIANT_FALSE;
    }

    void delete_file(const std::u16string& path) override {
        invoke(*object_.get(), L"deletefile", {&path}, nullptr);
    }

    void copy_file(const std::u16string& source, const std::u16string& destination) override {
        invoke(*object_.get(), L"copyfile", {&source, &destination}, nullptr);
    }

private:
    ComPtr<IDispatch> object_;
};

}  // namespace

std::unique_ptr<platform::FileSystemObject> AutomationFileSystemFactory::create(const std::u16string& class_name) {
    CLSID id{};
    throw_if_failed(CLSIDFromProgID(wide(class_name).c_str(), &id));
    ComPtr<IDispatch> object;
    throw_if_failed(CoCreateInstance(id, nullptr, CLSCTX_SERVER, IID_IDispatch, object.put_void()));
    return std::make_unique<AutomationFileSystem>(std::move(object));
}

}  // namespace platform::win32
