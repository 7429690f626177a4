// U_export: see U_export.h.
#include "ui/U_export.h"

#include <QSaveFile>

#include "ui/U_resultModel.h"

namespace corvane {

namespace {

// A sink over an open QSaveFile; a short write raises.
class TSaveFileSink : public ITextSink {
  public:
    explicit TSaveFileSink(QSaveFile& file) : file_(file) {}
    void Write(std::string_view bytes) override {
        const qint64 size = static_cast<qint64>(bytes.size());
        if (file_.write(bytes.data(), size) != size)
            throw TOutputError("无法写入文件：" + file_.fileName().toStdString() + "（" +
                               file_.errorString().toStdString() + "）");
    }

  private:
    QSaveFile& file_;
};

}  // namespace

bool WriteRows(const TResultModel& model, const std::vector<int>& rows, TResultFormat format,
               ITextSink& sink, const TExportProgress& progress) {
    const std::vector<std::string>& names = model.FieldNames();
    const std::vector<std::string>& types = model.FieldTypes();
    std::vector<TSimpleFieldDef> fields(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        fields[i].name = names[i];
        if (i < types.size()) fields[i].typeName = types[i];
        fields[i].position = static_cast<int>(i);
    }
    std::unique_ptr<TResultWriter> writer = MakeResultWriter(format, sink);
    writer->Begin(fields);
    // A row shorter than the field list (appended before a field was
    // added) gets empty values for the rest, as the list shows it.
    TSimpleRow cells;
    std::vector<const Variant*> values(fields.size());
    const size_t total = rows.size();
    for (size_t n = 0; n < total; ++n) {
        if (progress && n % kExportProgressStep == 0 && !progress(n, total)) return false;
        if (!model.RowValues(rows[n], cells)) continue;
        cells.resize(values.size());
        for (size_t c = 0; c < values.size(); ++c)
            values[c] = &cells[c];
        writer->Row(values);
    }
    writer->Finish();
    if (progress) progress(total, total);
    return true;
}

TExportOutcome ExportToFile(const std::string& path, const TResultModel& model,
                            const std::vector<int>& rows, TResultFormat format,
                            const TExportProgress& progress) {
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly))
        throw TOutputError("无法创建文件：" + path + "（" + file.errorString().toStdString() +
                           "）");
    TSaveFileSink sink(file);
    bool complete = false;
    try {
        complete = WriteRows(model, rows, format, sink, progress);
    } catch (...) {
        file.cancelWriting();
        throw;
    }
    if (!complete) {
        file.cancelWriting();
        return TExportOutcome::eoCancelled;
    }
    if (!file.commit())
        throw TOutputError("无法写入文件：" + path + "（" + file.errorString().toStdString() +
                           "）");
    return TExportOutcome::eoWritten;
}

}  // namespace corvane
