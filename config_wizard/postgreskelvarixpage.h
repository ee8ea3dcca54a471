#pragma once

#include "accountpage.h"

// The server program's database account, which Server.ini and database.yml receive.
class PostgresKelvarixPage : public AccountPage
{
    Q_OBJECT
public:
    explicit PostgresKelvarixPage(QWidget *parent = nullptr);
    int nextId() const override;

protected:
    QString passwordProblem(const QString &password) const override;
};
