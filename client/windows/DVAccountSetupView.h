#pragma once

#include "DVNavigationView.h"

class QLineEdit;

// The account page: e-mail address and password. What the user types is stored as "email" and (enciphered)
// "password" at every edit, as the fields' bindings to the settings always did; Next then checks it with
// the service.
class DVAccountSetupView : public DVNavigationView {
    Q_OBJECT

public:
    explicit DVAccountSetupView(QWidget* parent = nullptr);

    void setFields(QLineEdit* email, QLineEdit* password);
    void awakeFromNib() override;

    QString email() const;
    // In plain text.
    QString password() const;

    // Shows the stored values again, as a binding would.
    void reloadFromSettings();
    // At every edit of either field: Next is enabled exactly when both hold text.
    void textDidChange();

    QLineEdit* emailField() const { return _email; }
    QLineEdit* passwordField() const { return _password; }

private:
    QLineEdit* _email = nullptr;
    QLineEdit* _password = nullptr;
};
