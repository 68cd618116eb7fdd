// The repair of the database named in Base, with its progress and its messages.
#include <exception>

#include "form1/form1.h"
#include "platform/failure.h"
#include "platform/text.h"

std::unique_ptr<platform::DatabaseEngine> Form1::engine_slot_;

void Form1::Command1_Click() { Reparar_Bases(); }

// The bar stands at 1 of 3 while the engine works and full while the success
// message is up; a failure leaves it where it was so the user sees how far it got.
void Form1::Reparar_Bases() {
    try {
        estado.set_max(3.0f);
        estado.set_value(1.0f);
        if (!engine_slot_) engine_slot_ = services_.engines.create();
        const std::u16string name = Base.text();
        engine_slot_->repair_database(name);
        estado.set_value(3.0f);
        show_message(kRepairedMessage);
        estado.set_value(0.0f);
    } catch (...) {
        report_current_failure();
    }
}

// Called only from inside a catch block: every failure, whatever its source,
// becomes one error report holding its own description.
void Form1::report_current_failure() {
    std::u16string description;
    try {
        throw;
    } catch (const platform::Failure& failure) {
        description = failure.description();
    } catch (const std::exception& error) {
        description = platform::utf16_from_utf8(error.what());
    } catch (...) {
        description = u"Error inesperado.";
    }
    show_message(description);
}
