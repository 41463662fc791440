// tools/AppHelpDoc.cpp: writes the German help document doku.pdf at build time.
// Usage: zeloro_app_help_doc OUTFILE [ICON]   (ICON: the program icon shown beside the heading)
#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QTextDocument>
#include <QUrl>
#include <cstdio>

namespace {

// The whole document as one page of rich text; the PDF writer breaks it into A4 pages.
const char* const kHelpHtml = R"html(
<html><body style="font-family: 'DejaVu Sans', sans-serif; font-size: 10pt;">
<table cellspacing="0" cellpadding="0"><tr>
<td valign="middle"><img src="icon" width="48" height="48"></td>
<td valign="middle" style="padding-left: 12px;">
<h1 style="margin: 0;">Zeloro geotagging</h1>
<p style="margin: 0; color: #555555;">Hilfe zur Bedienung</p></td></tr></table>

<h2>Was das Programm tut</h2>
<p>Zeloro geotagging schreibt GPS-Positionen in Ihre JPEG-Fotos. Ein GPS-Empfänger oder eine
Smartphone-App zeichnet während eines Ausflugs eine Spur auf und speichert sie als GPX-Datei. Jeder
Punkt dieser Spur hat eine Uhrzeit. Ihre Kamera vermerkt in jedem Foto die Aufnahmezeit. Das Programm
sucht zu jedem Foto den Spurpunkt, der zur selben Zeit aufgezeichnet wurde, und trägt dessen Breite,
Länge und Zeit in die EXIF-Daten des Fotos ein. Das Bild selbst wird dabei nicht neu komprimiert; nur
die Metadaten werden neu geschrieben.</p>

<h2>Die Eingaben</h2>
<table border="1" cellspacing="0" cellpadding="4" width="100%">
<tr><td width="28%"><b>GPX-Datei</b></td><td>Die aufgezeichnete Spur. Über die Schaltfläche rechts
neben dem Feld öffnet sich ein Dateidialog, der gpx-Dateien anzeigt; der Pfad kann auch eingetippt
werden.</td></tr>
<tr><td><b>Bildordner</b></td><td>Der Ordner mit den Fotos. Alle Dateien mit der Endung .jpg in diesem
Ordner und in allen Unterordnern werden bearbeitet. Versteckte Ordner (Name beginnt mit einem Punkt)
werden nicht durchsucht.</td></tr>
<tr><td><b>Zeitzone</b></td><td>Die Zeitzone, auf die die Uhr der Kamera eingestellt war, von
„UTC - 11:00“ bis „UTC + 12:00“.</td></tr>
<tr><td><b>maximale Abweichung in Sekunden</b></td><td>Wie weit die Zeit eines Spurpunkts von der
Aufnahmezeit abweichen darf, von 0 bis 500 Sekunden; genommen wird der nächste Punkt innerhalb der
Abweichung. Der Wert wird mit den Pfeiltasten des Feldes eingestellt.</td></tr>
</table>

<h2>Zeitzonen und Sommerzeit</h2>
<p>GPS-Geräte speichern ihre Zeiten in UTC, die Kamera dagegen in der Ortszeit, auf die ihre Uhr
gestellt ist. Das Programm rechnet jede Aufnahmezeit mit der gewählten Zeitzone in UTC um: bei
„UTC + 2:00“ werden zwei Stunden abgezogen, bei „UTC - 5:00“ fünf Stunden hinzugezählt, bei „UTC“ bleibt
die Zeit, wie sie ist. Alle Fotos eines Durchlaufs werden mit derselben Zeitzone umgerechnet.</p>
<p>Beim Start schlägt das Programm eine Zeitzone vor: „UTC + 2:00“, wenn gerade mitteleuropäische
Sommerzeit gilt (letzter Sonntag im März, 2 Uhr, bis letzter Sonntag im Oktober, 3 Uhr), sonst
„UTC + 1:00“. Wurden die Fotos zu einer anderen Jahreszeit oder in einem anderen Land aufgenommen,
wählen Sie die passende Zone vor dem Start selbst aus.</p>

<h2>Die Toleranz</h2>
<p>Bei 0 Sekunden muss ein Spurpunkt in genau derselben Sekunde aufgezeichnet sein wie das Foto. Viele
Geräte speichern aber nur alle paar Sekunden einen Punkt. Mit einer Abweichung von zum Beispiel 10
Sekunden wird ein Punkt gefunden, der bis zu 10 Sekunden vor oder nach der Aufnahme liegt. Liegen
mehrere Punkte in diesem Fenster, wird der nächste Punkt innerhalb der Abweichung genommen, also der
zeitlich nächste zur Aufnahme; liegen zwei gleich nah, der frühere. Geht die Kamerauhr falsch, hilft eine große Abweichung nur begrenzt; stellen Sie die Kamerauhr besser vor der
Aufnahme.</p>

<h2>Ein Durchlauf mit „Starten“</h2>
<ol>
<li>Das Programm prüft, ob eine GPX-Datei und ein Bildordner angegeben sind.</li>
<li>Es sucht die Fotos im Bildordner und meldet ihre Anzahl im Protokoll.</li>
<li>Es liest alle Punkte der GPX-Datei, die eine Zeit haben (Wegpunkte, Spurpunkte und Routenpunkte),
in seine Datenbank ein.</li>
<li>Für jedes Foto liest es die Aufnahmezeit, sucht einen passenden Punkt und schreibt das Foto mit den
Koordinaten neu. Der Statusbalken zeigt, wie viele Fotos bearbeitet sind.</li>
</ol>
<p>Jeder Schritt erscheint mit Datum und Uhrzeit als Zeile im Protokoll, zum Beispiel
„IMG_0012.jpg Koordinaten gefunden:“ gefolgt von „48.137,11.575 getaggt!“ oder
„IMG_0013.jpg keine Koordinaten gefunden“. Während eines Durchlaufs sind „Maps“ und „Leeren“
gesperrt, und an der Stelle von „Starten“ steht „Abbrechen“. „Abbrechen“ oder die Taste Esc beenden den
Durchlauf, sobald das Foto, das gerade bearbeitet wird, fertig geschrieben ist; das Protokoll endet dann
mit „Lauf abgebrochen: 12 von 300 Bildern bearbeitet.“. „Beenden“, der orange Knopf oben rechts und das
Schließen des Fensters brechen einen Durchlauf ebenso ab und wirken danach wie sonst. Endet ein
Durchlauf mit einem Fehler, steht der Text des Fehlers auch als letzte Zeile im Protokoll. Ein Bildordner,
den es nicht gibt, wird vor dem Durchlauf gemeldet.</p>

<h2>Ergebnisse</h2>
<p>Mit dem ersten Durchlauf wächst das Fenster nach unten und zeigt unter „Ergebnisse:“ eine Tabelle mit
einer Zeile je Foto: Datei, Aufnahmezeit nach der Kamerauhr und in UTC, Status („getaggt“, „ohne
Treffer“, „übersprungen“, „Fehler“), Position, Abstand zwischen Aufnahme und Spurpunkt in Sekunden und den
Grund, warum ein Foto keine Position bekam oder welcher Fehler auftrat; mit „Ortsnamen eintragen“ auch den
Ort. Die Tabelle füllt sich während des Durchlaufs und bleibt bis zum nächsten Durchlauf oder „Leeren“
stehen. Ein Klick auf eine Spaltenüberschrift sortiert nach dieser Spalte, ein zweiter Klick umgekehrt;
das Feld darunter zeigt nur die Fotos eines Status. Wer mit der Maus auf dem Status verweilt, sieht
Position und Abstand oder den Grund, ohne die Tabelle zur Seite zu schieben. Doppelklick oder Enter auf
einer Zeile öffnet den Ordner des Fotos. Während des Durchlaufs steht unter der Tabelle, wie viele Fotos bearbeitet sind
(„412 / 1000“), danach die Zusammenfassung, zum Beispiel „Zusammenfassung: 950 getaggt, 40 ohne Treffer,
5 übersprungen, 5 fehlgeschlagen, 12,30 s“.</p>

<h2>Probelauf und „Jetzt schreiben“</h2>
<p>„Probelauf“ macht alles wie „Starten“, schreibt aber kein Foto: Die Tabelle zeigt, welche Fotos welche
Position bekämen („würde getaggt“). Stimmt das Ergebnis, schreibt „Jetzt schreiben“ genau diese
Positionen in die Fotos, ohne den Track noch einmal abzugleichen. Der Knopf ist nur bereit, solange die
Eingaben und Optionen dieselben sind wie beim Probelauf; wer danach etwas ändert, startet einen neuen
Probelauf. Wurde ein Foto seit dem Probelauf verändert, wird es neu abgeglichen und in der Spalte „Grund“
mit „neu abgeglichen“ markiert. Alt+O betätigt „Probelauf“, Alt+J „Jetzt schreiben“; Alt+I springt in
die Tabelle der Ergebnisse.</p>

<h2>Uhr abgleichen</h2>
<p>Geht die Kamerauhr falsch, landen alle Fotos an falschen Stellen. So finden Sie den Versatz:
Fotografieren Sie mit der Kamera die Uhrzeit auf dem GPS-Gerät (oder dem Telefon), klicken Sie oben auf
„Uhr abgleichen…“ und wählen Sie mit „Foto wählen…“ dieses Foto. Der Dialog zeigt seinen Namen, seine
Aufnahmezeit und das Bild. Tragen Sie unter „Uhrzeit im Bild:“ die Uhrzeit ein, die das Foto zeigt, und
wählen Sie unter „Zeitzone dieser Uhr:“ „UTC (GPS-Gerät)“ für ein GPS-Gerät, das UTC anzeigt, oder
„Zeitzone der Kamera (Telefon)“ für ein Telefon. Der Dialog zeigt sofort, wie weit die Kamera vor- oder
nachgeht („Die Kamera geht 1 min 30 s nach.“). Mit „OK“ wird dieser Versatz unter „Optionen“ eingetragen
und gespeichert, und ein Probelauf zeigt gleich, welche Positionen die Fotos damit bekämen.</p>

<h2>Details im Protokoll</h2>
<p>Ist unter „Optionen“ „Details im Protokoll“ eingeschaltet, folgt jeder Zeile „keine Koordinaten
gefunden“ eine Zeile mit dem Grund: das Foto hat keine Aufnahmezeit; die Aufnahmezeit liegt außerhalb der
Tracks (mit deren erster und letzter Zeit in UTC und der Zeit des Fotos in UTC, so fällt eine falsche
Zeitzone sofort auf); oder der nächste Spurpunkt liegt weiter entfernt als die erlaubte Abweichung (mit
seiner Zeit und dem Abstand in Sekunden). Fotos in Unterordnern werden dann mit ihrem Pfad unter dem
Bildordner genannt.</p>

<h2>Alle Fotoformate</h2>
<p>Ist unter „Optionen“ „Alle Fotoformate“ eingeschaltet, nimmt der Durchlauf außer den *.jpg-Dateien
auch .jpeg und .jpe, RAW-Dateien (DNG, NEF, CR2, CR3, ARW, ORF, RW2, RAF und weitere), TIFF, HEIC/HEIF/AVIF
und Videos (MOV, MP4, M4V, 3GP). Welche Art eine Datei ist, entscheidet ihr Inhalt. JPEG-Bilder erhalten
die Position wie immer in der Datei; alle anderen behalten ihren Inhalt Byte für Byte und erhalten sie in
einer XMP-Begleitdatei daneben, „NAME.EXT.xmp“ oder, unter „Begleitdatei“ gewählt, „NAME.xmp“. Eine
vorhandene Begleitdatei wird nur in den GPS-Eigenschaften geändert; hat eine Datei keine Aufnahmezeit,
gilt die ihrer Begleitdatei. Mit „Position in RAW-Dateien selbst schreiben“ erhalten TIFF und RAW auf
TIFF-Basis die Position in der Datei; eine beschädigte Datei erhält stattdessen die Begleitdatei. Dateien
anderer Art werden in einer Zeile gezählt („3 Dateien in anderen Formaten übersprungen“).</p>

<h2>Bei Fehlern weitermachen</h2>
<p>Normalerweise beendet ein Foto, das nicht gelesen oder gespeichert werden kann, den Durchlauf. Ist unter
„Optionen“ „Bei Fehlern weitermachen“ eingeschaltet, steht es als „IMG_0013.jpg: GRUND – übersprungen“ im
Protokoll, und der Durchlauf geht mit dem nächsten Foto weiter. Ein voller Datenträger oder ein Fehler der
Datenbank beendet ihn weiterhin.</p>

<h2>Ortsnamen und Zeitzone aus dem Track</h2>
<p>Mit „Ortsnamen eintragen“ unter „Optionen“ bekommt jedes getaggte Foto in seinen XMP-Daten den Ort
(photoshop:City), die Region (photoshop:State), das Land auf Deutsch (photoshop:Country) und den
Ländercode (Iptc4xmpCore:CountryCode). Genannt wird der nächste Ort bis 30 km von der Position, ein
Stadtteil unter dem Namen seiner Stadt; das Land bis 50 km vom nächsten Ort, auf offener See nichts.
Werte, die ein Foto schon hat, bleiben, außer „vorhandene Ortsnamen ersetzen“ ist eingeschaltet. Die
IPTC-Daten des Fotos bleiben unverändert.</p>
<p>Mit „Zeitzone aus dem Track“ gilt für jedes Foto die Zeitzone des Ortes, an dem der Track zur
Aufnahmezeit war, mit Sommerzeit je Datum, statt der Zeitzone des Fensters. Die Kamera muss dafür auf
die Ortszeit gestellt sein. Jeder Wechsel der Zone steht im Protokoll, etwa „Zeitzone aus dem Track:
Asia/Kolkata“. Liegt kein Trackpunkt innerhalb von 14 Stunden um die Aufnahmezeit, bekommt das Foto
keine Position.</p>
<p>Die Ortsdaten stammen von GeoNames (www.geonames.org) und stehen unter der Lizenz CC BY 4.0; die
deutschen Ländernamen kommen aus iso-codes, die Zeitzonen aus der Zeitzonendatenbank.</p>

<h2>Bedienung mit der Tastatur</h2>
<ul>
<li>Nach dem Start steht die Eingabe im Feld „GPX-Datei“; ein oranger Rahmen zeigt, welches Element die
Eingabe hat.</li>
<li>Tab geht in der Reihenfolge auf dem Bildschirm durch alle Elemente, auch die Knöpfe „…“, „Optionen“,
„Hilfe“ und den Knopf zum Beenden; Umschalt+Tab geht zurück. Leertaste betätigt das gewählte Element.</li>
<li>Enter betätigt den gewählten Knopf; in einem Eingabefeld startet Enter nichts. Esc bricht einen
Durchlauf ab; F1 öffnet diese Hilfe.</li>
<li>Umschalt+F10 oder die Menütaste öffnet das Kontextmenü des gewählten Elements, im Protokoll etwa
„Protokoll speichern…“.</li>
<li>Alt mit dem unterstrichenen Buchstaben betätigt einen Knopf: Alt+M „Maps“, Alt+S „Starten“,
Alt+R „Abbrechen“, Alt+L „Leeren“, Alt+E „Beenden“. Ebenso springt er in ein Feld: Alt+G „GPX-Datei“,
Alt+B „Bildordner“, Alt+Z „Zeitzone“, Alt+A „maximale Abweichung“, Alt+P „Protokoll“. Auch jeder Eintrag
unter „Optionen“ hat seinen Buchstaben.</li>
</ul>

<h2>Eingaben bequemer</h2>
<ul>
<li>Ein Ordner, auf das Fenster gezogen, wird zum Bildordner, eine Trackdatei zur GPX-Datei; beides
zugleich geht auch. Anderes nimmt das Fenster nicht an, ebenso wenig während eines Durchlaufs.</li>
<li>Jeder Dateidialog öffnet im zuletzt benutzten Ordner, beim ersten Mal im persönlichen Ordner.
„Protokoll speichern…“ hängt „.txt“ an einen Namen ohne Endung.</li>
<li>Mit „Letzte Eingaben merken“ unter „Optionen“ stehen GPX-Datei, Bildordner, Zeitzone und Abweichung
beim nächsten Start wieder da; gemerkt wird beim Start eines Durchlaufs und beim Schließen.</li>
<li>Legen „Zeitzone (frei)“ oder „Zeitzone aus dem Track“ unter „Optionen“ die Zeitzone fest, zeigt die
Liste „Zeitzone“ „(Optionen)“ und ist gesperrt, bis die Option wieder aus ist.</li>
</ul>

<h2>Was in die Fotos geschrieben wird</h2>
<ul>
<li>die geografische Breite mit Halbkugel (Nord oder Süd) in Grad, Minuten und Sekunden,</li>
<li>die geografische Länge mit Halbkugel (Ost oder West) in Grad, Minuten und Sekunden,</li>
<li>Datum und Uhrzeit des gefundenen Spurpunkts in UTC.</li>
</ul>
<p>Enthält ein Foto bereits XMP-Angaben zu diesen Werten, werden sie ebenfalls angepasst. Alle anderen
Daten des Fotos, auch das Bild selbst, bleiben unverändert. Das Foto wird zuerst vollständig in eine
Hilfsdatei im selben Ordner geschrieben und erst dann an die Stelle des Originals gesetzt; schlägt das
Schreiben fehl, bleibt das Original unberührt. Ein schreibgeschütztes Foto (eine Datei, die Sie nicht
schreiben dürfen) wird nicht verändert: der Durchlauf endet dort mit einer Meldung, die das Foto nennt. Bewahren Sie trotzdem eine Sicherungskopie Ihrer Fotos
auf.</p>

<h2>Die Karte</h2>
<p>„Maps“ erzeugt die Seite maps/index.html im Datenordner, die alle im letzten Durchlauf getaggten Fotos
auf einer Karte zeigt, und öffnet sie im Standardbrowser. Wurde noch kein Foto getaggt, meldet das
Programm „Keine aktuellen Geodaten vorhanden!“. Der Pfad der Seite steht danach im Protokoll. Findet
sich kein Programm, das die Seite oder diese Hilfe öffnet, nennt eine Meldung die Datei, damit Sie sie
selbst öffnen können.</p>
<p>Die Seite zeichnet die Karte mit der Bibliothek Leaflet, die mit dem Programm im Ordner maps liegt, auf
Kartenkacheln von OpenStreetMap. Nur diese Kacheln kommen aus dem Internet: ohne Verbindung bleibt der
Hintergrund leer, Markierungen, Spur und Fotoangaben erscheinen trotzdem.</p>
<ul>
<li><b>Markierungen und Gruppen:</b> Jedes Foto ist eine Markierung. Liegen viele Fotos dicht beieinander,
fasst die Karte sie zu einem Kreis mit ihrer Anzahl zusammen; ein Klick darauf oder Heranzoomen zeigt die
einzelnen Fotos, Fotos an genau derselben Stelle werden dabei aufgefächert.</li>
<li><b>Die Spur:</b> Die Spurpunkte der Datenbank erscheinen als blaue Linie; eine Pause von mehr als
15 Minuten beginnt eine neue Linie.</li>
<li><b>Der Ausschnitt</b> umfasst alle Fotos und die ganze Spur; ein einzelner Ort wird in Zoomstufe 15
gezeigt. Eine Reise über die Datumsgrenze, etwa von Fidschi nach Samoa, wird am Stück gezeigt und nicht
an beiden Enden der Weltkarte.</li>
<li><b>Ein Klick auf ein Foto</b> öffnet ein Fenster mit dem Vorschaubild, das die Kamera in das Foto
geschrieben hat (falls vorhanden), dem Dateinamen, der Aufnahmezeit in der Ortszeit der Kamera mit ihrer
Zeitzone (etwa „15.06.2024 10:00:00 (UTC + 2:00)“ oder „(Europe/Berlin, UTC + 2:00)“), dem Ort, wenn die
Ortsnamen eingeschaltet sind, und der Position. Die Vorschaubilder legt „Maps“ jedes Mal neu im Ordner
maps/thumbs ab.</li>
</ul>
<p>Statt dieser Seite entsteht eine Seite auf Google Maps nur, wenn Sie einen eigenen Schlüssel für
Google Maps eingerichtet haben (Umgebungsvariable ZELORO_GOOGLE_MAPS_KEY oder die Datei
google-maps-key.txt im Datenordner).</p>

<h2>Leeren und Beenden</h2>
<p>Die eingelesenen Spurpunkte bleiben in der Datenbank, bis sie geleert wird, und werden bei weiteren
Durchläufen mit durchsucht. Wird dieselbe GPX-Datei zweimal eingelesen, steht jeder Punkt zweimal in der
Datenbank.</p>
<ul>
<li><b>Leeren</b> löscht die Eingabefelder GPX-Datei und Bildordner, das Protokoll, die Liste für die
Karte und alle Spurpunkte der Datenbank. Zeitzone und Abweichung bleiben eingestellt.</li>
<li><b>Beenden</b> und der orange Knopf oben rechts leeren die Datenbank und beenden das Programm.</li>
<li>Wird das Fenster auf andere Weise geschlossen, etwa mit Alt+F4 oder über die Taskleiste, bleiben die
Spurpunkte für den nächsten Start erhalten.</li>
</ul>

<h2>Datenordner</h2>
<p>Die Spurpunkte, die Kartenseite und diese Hilfe liegen im Datenordner des Benutzers:
$XDG_DATA_HOME/kvd/zeloro/, ohne XDG_DATA_HOME ~/.local/share/kvd/zeloro/. Beim ersten Start legt das
Programm ihn als Kopie der installierten Vorlage an (/usr/share/zeloro/, allgemein &lt;prefix&gt;/share/zeloro/
neben den Programmen). Ein nicht installiertes Programm, etwa in einem Build-Ordner, arbeitet mit den
Dateien neben dem Programm.</p>

<h2>Meldungen</h2>
<table border="1" cellspacing="0" cellpadding="4" width="100%">
<tr><td width="45%">Bitte geben Sie eine gpx-Datei an!</td><td>Das Feld GPX-Datei ist leer.</td></tr>
<tr><td>Bitte geben Sie einen Ordner mit jpg-Dateien an!</td><td>Das Feld Bildordner ist leer.</td></tr>
<tr><td>Import fehlerhaft abgebrochen</td><td>Die Spur konnte nicht vollständig in die Datenbank
übernommen werden; kein Foto wurde verändert.</td></tr>
<tr><td>Die Datenbankdatei konnte nicht gefunden werden</td><td>Beim Start wurde die Datei zeloro.sqlite
weder im Datenordner noch in einer installierten Vorlage noch neben dem Programm gefunden.</td></tr>
<tr><td>Die Datenbank … ist schreibgeschützt</td><td>Die Datei zeloro.sqlite oder ihr Ordner darf nicht
geschrieben werden; die Meldung nennt Datei und Grund. Kein Foto wurde verändert.</td></tr>
<tr><td>Der Datenordner … kann nicht angelegt werden</td><td>Der Datenordner konnte nicht aus der Vorlage
angelegt werden; die Meldung nennt Ordner und Grund.</td></tr>
<tr><td>Keine aktuellen Geodaten vorhanden!</td><td>Im letzten Durchlauf wurde kein Foto getaggt.</td></tr>
</table>

<h2>Fenster verschieben</h2>
<p>Das Fenster hat keine Titelleiste. Um es zu verschieben, drücken Sie eine beliebige Maustaste auf
einer freien Stelle des Fensters und ziehen es an den gewünschten Ort.</p>
</body></html>
)html";

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: zeloro_app_help_doc OUTFILE [ICON]\n");
        return 2;
    }
    QPdfWriter writer(QString::fromLocal8Bit(argv[1]));
    writer.setTitle(QStringLiteral("Zeloro geotagging – Hilfe"));
    writer.setCreator(QStringLiteral("Zeloro geotagging"));
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(20, 18, 20, 18), QPageLayout::Millimeter));
    writer.setResolution(300);

    QTextDocument document;
    if (argc == 3) {
        const QImage icon(QString::fromLocal8Bit(argv[2]));
        if (!icon.isNull()) {
            document.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("icon")), icon);
        }
    }
    document.setHtml(QString::fromUtf8(kHelpHtml));

    // The document is laid out in logical pixels of 96 per inch and scaled onto the writer's pages, so
    // that the text uses the whole width between the margins.
    const double scale = writer.resolution() / 96.0;
    const QRectF paintRect = writer.pageLayout().paintRectPixels(writer.resolution());
    const double footer = 28.0;  // room for the page number, in logical pixels
    const QSizeF page(paintRect.width() / scale, paintRect.height() / scale - footer);
    document.setPageSize(page);
    const int pages = document.pageCount();
    QPainter painter(&writer);
    for (int i = 0; i < pages; ++i) {
        if (i > 0) {
            writer.newPage();
        }
        painter.save();
        painter.scale(scale, scale);
        painter.translate(0, -page.height() * i);
        document.drawContents(&painter, QRectF(QPointF(0, page.height() * i), page));
        painter.restore();
        painter.save();
        painter.scale(scale, scale);
        QFont small(QStringLiteral("DejaVu Sans"));
        small.setPixelSize(10);  // logical pixels: the painter is scaled already
        painter.setFont(small);
        painter.setPen(QColor(110, 110, 110));
        painter.drawText(QRectF(0, page.height(), page.width(), footer), Qt::AlignRight | Qt::AlignBottom,
                         QStringLiteral("Zeloro geotagging – Seite %1 von %2").arg(i + 1).arg(pages));
        painter.restore();
    }
    return painter.end() ? 0 : 1;
}
