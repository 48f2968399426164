#pragma once

#include <QString>

namespace lianbu::db {

class DataSet;

// One column of a dataset's result. Fields belong to their dataset and are recreated by every
// open: a Field reference is valid until the dataset is closed or reopened.
// value accessors read and write the dataset's current row (its edit buffer while editing).
class Field
{
public:
    enum class DataType { Unknown, String, Integer, Float, Blob };

    const QString &fieldName() const { return m_name; }
    DataType dataType() const { return m_type; }
    // Declared width in characters from the column type ("VARCHAR(50)" -> 50); 0 = no limit.
    int size() const { return m_size; }
    // Position in the dataset's field list (0-based). Setting it moves the field there; the
    // fields between shift by one. Values stay with their field.
    int index() const { return m_index; }
    void setIndex(int index);

    // column title for bound controls; the field name unless set.
    const QString &displayLabel() const { return m_displayLabel; }
    void setDisplayLabel(const QString &label);
    bool visible() const { return m_visible; }
    void setVisible(bool visible);

    DataSet &dataSet() const { return *m_dataSet; }

    // The current row's value as text; a null value gives "".
    QString asString() const;
    bool isNull() const;
    // The value converted to an integer (0 for null or non-numeric text).
    qint64 asInteger() const;
    // Sets the current row's value (dataset in edit or insert state, else throws).
    // Text longer than size() is cut to size() characters.
    void setAsString(const QString &text);
    // Sets the current row's value to null.
    void clear();

private:
    friend class DataSet;
    Field(DataSet *dataSet, int index, const QString &name, DataType type, int size);

    DataSet *m_dataSet;
    int m_index;
    int m_column; // where the field's values are stored in a row; fixed while the dataset is open
    QString m_name;
    DataType m_type;
    int m_size;
    QString m_displayLabel;
    bool m_visible = true;
};

// `text` cut to `width` characters (no cut when width <= 0), never inside a surrogate pair.
QString cutToWidth(const QString &text, int width);

} // namespace lianbu::db
