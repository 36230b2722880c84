#include "sync/DavMultistatus.h"

#include <QXmlStreamReader>

QString dav::Name(const QString& ns, const char* local) {
  return QLatin1Char('{') + ns + QLatin1Char('}') + QLatin1String(local);
}

namespace {

QString ExpandedName(const QXmlStreamReader& xml) {
  return QLatin1Char('{') + xml.namespaceUri().toString() + QLatin1Char('}') +
         xml.name().toString();
}

bool Is(const QXmlStreamReader& xml, const QString& ns, const char* local) {
  return xml.namespaceUri() == ns && xml.name() == QLatin1String(local);
}

int StatusCode(const QString& line) {
  // "HTTP/1.1 200 OK"
  const QStringList parts = line.simplified().split(QLatin1Char(' '));
  return parts.size() >= 2 ? parts[1].toInt() : 0;
}

struct PropValue {
  QString name;
  QString text;
  QStringList hrefs;
  QStringList children;  // expanded names of child elements (resourcetype)
  QStringList comps;     // <comp name="..."> values
};

// Reads one property element (the reader is at its start) to its end.
PropValue ReadProp(QXmlStreamReader& xml) {
  PropValue value;
  value.name = ExpandedName(xml);
  int depth = 1;
  while (depth > 0 && !xml.atEnd()) {
    const auto token = xml.readNext();
    if (token == QXmlStreamReader::StartElement) {
      ++depth;
      if (depth == 2) value.children << ExpandedName(xml);
      if (Is(xml, dav::kDav, "href")) {
        value.hrefs << xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        --depth;
      } else if (Is(xml, dav::kCalDav, "comp")) {
        value.comps << xml.attributes().value(QLatin1String("name")).toString().toUpper();
      }
    } else if (token == QXmlStreamReader::EndElement) {
      --depth;
    } else if (token == QXmlStreamReader::Characters && depth == 1) {
      value.text += xml.text();
    }
  }
  return value;
}

// Reads one <propstat> into the response when its status is 200.
void ReadPropstat(QXmlStreamReader& xml, DavResponse* response) {
  std::vector<PropValue> values;
  int status = 0;
  while (xml.readNextStartElement()) {
    if (Is(xml, dav::kDav, "prop")) {
      while (xml.readNextStartElement()) values.push_back(ReadProp(xml));
    } else if (Is(xml, dav::kDav, "status")) {
      status = StatusCode(xml.readElementText());
    } else {
      xml.skipCurrentElement();
    }
  }
  if (status != 200) return;
  for (const PropValue& v : values) {
    response->props.insert(v.name, v.text);
    if (!v.hrefs.isEmpty()) response->propHrefs.insert(v.name, v.hrefs);
    if (v.name == dav::Name(dav::kDav, "resourcetype")) response->resourceTypes = v.children;
    if (v.name == dav::Name(dav::kCalDav, "supported-calendar-component-set"))
      response->components = v.comps;
  }
}

DavResponse ReadResponse(QXmlStreamReader& xml) {
  DavResponse response;
  while (xml.readNextStartElement()) {
    if (Is(xml, dav::kDav, "href")) {
      response.href = xml.readElementText().trimmed();
    } else if (Is(xml, dav::kDav, "status")) {
      response.status = StatusCode(xml.readElementText());
    } else if (Is(xml, dav::kDav, "propstat")) {
      ReadPropstat(xml, &response);
    } else {
      xml.skipCurrentElement();
    }
  }
  return response;
}

}  // namespace

DavMultistatus DavMultistatus::Parse(const QByteArray& body) {
  DavMultistatus result;
  QXmlStreamReader xml(body);
  if (!xml.readNextStartElement() || !Is(xml, dav::kDav, "multistatus")) {
    result.error = xml.hasError() ? QStringLiteral("the answer is not XML (%1)").arg(xml.errorString())
                                  : QStringLiteral("the answer is not a WebDAV multistatus");
    return result;
  }
  while (xml.readNextStartElement()) {
    if (Is(xml, dav::kDav, "response")) {
      result.responses.push_back(ReadResponse(xml));
    } else if (Is(xml, dav::kDav, "sync-token")) {
      result.syncToken = xml.readElementText().trimmed();
    } else {
      xml.skipCurrentElement();
    }
  }
  if (xml.hasError()) {
    result = DavMultistatus();
    result.error = QStringLiteral("the answer is not well-formed XML (%1)").arg(xml.errorString());
  }
  return result;
}
