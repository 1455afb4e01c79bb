#include "DVAccountSetupView.h"

#include "DVPasswordTransformer.h"
#include "DVSettingsKeys.h"
#include "UserDefaults.h"

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
    // textEdited, not textChanged: only the user's own edits count, not the values shown from the settings.
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    connect(_email, &QLineEdit::textEdited, this, [this, &defaults](const QString& text) {
        defaults.setValue(text, DVKey(DVSettings::Email));
        textDidChange();
    });
    connect(_password, &QLineEdit::textEdited, this, [this, &defaults](const QString& text) {
        defaults.setValue(DVPasswordTransformer::reverseTransformedValue(text), DVKey(DVSettings::Password));
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
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    _email->setText(defaults.valueForKey(DVKey(DVSettings::Email)).toString());
    _password->setText(
        DVPasswordTransformer::transformedValue(defaults.valueForKey(DVKey(DVSettings::Password))).toString());
}

void DVAccountSetupView::textDidChange() {
    nextButton()->setEnabled(!_email->text().isEmpty() && !_password->text().isEmpty());
}
