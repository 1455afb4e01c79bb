#include "DVAccountSetupView.h"

#include "ClientSettings.h"
#include "DVPasswordTransformer.h"

#include <QAbstractButton>
#include <QLineEdit>

DVAccountSetupView::DVAccountSetupView(QWidget* parent)
    : DVNavigationView(parent) {}

void DVAccountSetupView::setFields(QLineEdit* email, QLineEdit* password) {
    _email = email;
    _password = password;
}

void DVAccountSetupView::awakeFromNib() {
    DVNavigationView::awakeFromNib();
    reloadFromSettings();
    connect(&ClientSettings::shared(), &ClientSettings::changed, this, [this](ClientSettings::Key key) {
        if (key == ClientSettings::Key::Email || key == ClientSettings::Key::Password)
            reloadFromSettings();
    });
    // textEdited, not textChanged: only the user's own edits count, not the values shown from the settings.
    ClientSettings& settings = ClientSettings::shared();
    connect(_email, &QLineEdit::textEdited, this, [this, &settings](const QString& text) {
        settings.setEmail(text);
        textDidChange();
    });
    connect(_password, &QLineEdit::textEdited, this, [this, &settings](const QString& text) {
        settings.setValue(ClientSettings::Key::Password, DVPasswordTransformer::reverseTransformedValue(text));
        textDidChange();
    });
    nextButton()->setEnabled(false);
}

QString DVAccountSetupView::email() const {
    return _email->text();
}

QString DVAccountSetupView::password() const {
    return _password->text();
}

void DVAccountSetupView::reloadFromSettings() {
    const ClientSettings& settings = ClientSettings::shared();
    // Only a value that differs is shown: the user's own typing stores what the field already holds, and
    // setting it again would move the cursor.
    const auto show = [](QLineEdit* field, const QString& value) {
        if (field->text() != value)
            field->setText(value);
    };
    show(_email, settings.email());
    show(_password, DVPasswordTransformer::transformedValue(settings.value(ClientSettings::Key::Password)).toString());
}

void DVAccountSetupView::textDidChange() {
    nextButton()->setEnabled(!_email->text().isEmpty() && !_password->text().isEmpty());
}
