#include "text/TxtTables.h"

// This file is UTF-8. A juce::String made from a plain char literal would read it as
// 8-bit text and spoil every non-ASCII letter, so every text goes through the decoder.
static juce::String utf8 (const char* text) { return juce::String (juce::CharPointer_UTF8 (text)); }

const uint16_t kLanguageIds[kLanguageCount] = { 0x0409, 0x040C, 0x0407, 0x040A, 0x0410, 0x0413,
                                                0x0419, 0x0816, 0x0804, 0x0404, 0x0412, 0x0411 };

const juce::String kLanguageNames[kLanguageCount] = {
    utf8 ("English"), // English
    utf8 ("Français"), // French
    utf8 ("Deutsch"), // German
    utf8 ("Español"), // Spanish
    utf8 ("Italiano"), // Italian
    utf8 ("Nederlands"), // Dutch
    utf8 ("Русский"), // Russian
    utf8 ("Português"), // Portuguese
    utf8 ("简体中文"), // Chinese (Simplified)
    utf8 ("繁體中文"), // Chinese (Traditional)
    utf8 ("한국어"), // Korean
    utf8 ("日本語"), // Japanese
};

const juce::String kWindowsFontNames[kLanguageCount] = {
    utf8 ("Verdana"), // English
    utf8 ("Verdana"), // French
    utf8 ("Verdana"), // German
    utf8 ("Verdana"), // Spanish
    utf8 ("Verdana"), // Italian
    utf8 ("Verdana"), // Dutch
    utf8 ("Verdana"), // Russian
    utf8 ("Verdana"), // Portuguese
    utf8 ("SimHei"), // Chinese (Simplified)
    utf8 ("SimHei"), // Chinese (Traditional)
    utf8 ("Batang"), // Korean
    utf8 ("MS PGothic"), // Japanese
};

const juce::String kAltFontNames[kLanguageCount] = {
    utf8 ("Verdana"), // English
    utf8 ("Verdana"), // French
    utf8 ("Verdana"), // German
    utf8 ("Verdana"), // Spanish
    utf8 ("Verdana"), // Italian
    utf8 ("Verdana"), // Dutch
    utf8 ("Geneva CY"), // Russian
    utf8 ("Verdana"), // Portuguese
    utf8 ("STHeiti"), // Chinese (Simplified)
    utf8 ("STHeiti"), // Chinese (Traditional)
    utf8 ("AppleGothic Regular"), // Korean
    utf8 ("Osaka"), // Japanese
};

const juce::String kTextEmpty[kLanguageCount] = {
    utf8 (""), // English
    utf8 (""), // French
    utf8 (""), // German
    utf8 (""), // Spanish
    utf8 (""), // Italian
    utf8 (""), // Dutch
    utf8 (""), // Russian
    utf8 (""), // Portuguese
    utf8 (""), // Chinese (Simplified)
    utf8 (""), // Chinese (Traditional)
    utf8 (""), // Korean
    utf8 (""), // Japanese
};

const juce::String kTextFamily[kLanguageCount] = {
    utf8 ("TRB"), // English
    utf8 ("TRB"), // French
    utf8 ("TRB"), // German
    utf8 ("TRB"), // Spanish
    utf8 ("TRB"), // Italian
    utf8 ("TRB"), // Dutch
    utf8 ("TRB"), // Russian
    utf8 ("TRB"), // Portuguese
    utf8 ("TRB"), // Chinese (Simplified)
    utf8 ("TRB"), // Chinese (Traditional)
    utf8 ("TRB"), // Korean
    utf8 ("TRB"), // Japanese
};

const juce::String kTextModel[kLanguageCount] = {
    utf8 ("TRB-Kelo7"), // English
    utf8 ("TRB-Kelo7"), // French
    utf8 ("TRB-Kelo7"), // German
    utf8 ("TRB-Kelo7"), // Spanish
    utf8 ("TRB-Kelo7"), // Italian
    utf8 ("TRB-Kelo7"), // Dutch
    utf8 ("TRB-Kelo7"), // Russian
    utf8 ("TRB-Kelo7"), // Portuguese
    utf8 ("TRB-Kelo7"), // Chinese (Simplified)
    utf8 ("TRB-Kelo7"), // Chinese (Traditional)
    utf8 ("TRB-Kelo7"), // Korean
    utf8 ("TRB-Kelo7"), // Japanese
};

const juce::String kTextAppTitle[kLanguageCount] = {
    utf8 ("Updater Program"), // English
    utf8 ("Programme de mise à jour"), // French
    utf8 ("Aktualisierungsprogramm"), // German
    utf8 ("Programa actualizador"), // Spanish
    utf8 ("Programma di aggiornamento"), // Italian
    utf8 ("Updateprogramma"), // Dutch
    utf8 ("Программа обновления"), // Russian
    utf8 ("Programa de Atualização"), // Portuguese
    utf8 ("升级程序"), // Chinese (Simplified)
    utf8 ("更新程式"), // Chinese (Traditional)
    utf8 ("업데이터 프로그램"), // Korean
    utf8 ("アップデートプログラム"), // Japanese
};

const juce::String kTextOk[kLanguageCount] = {
    utf8 ("OK"), // English
    utf8 ("OK"), // French
    utf8 ("OK"), // German
    utf8 ("Aceptar"), // Spanish
    utf8 ("OK"), // Italian
    utf8 ("Akkoord"), // Dutch
    utf8 ("ОК"), // Russian, in Cyrillic letters
    utf8 ("OK"), // Portuguese
    utf8 ("确定"), // Chinese (Simplified)
    utf8 ("確定"), // Chinese (Traditional)
    utf8 ("OK"), // Korean
    utf8 ("OK"), // Japanese
};

const juce::String kTextStart[kLanguageCount] = {
    utf8 ("Start"), // English
    utf8 ("Démarrer"), // French
    utf8 ("Start"), // German
    utf8 ("Iniciar"), // Spanish
    utf8 ("Start"), // Italian
    utf8 ("Beginnen"), // Dutch
    utf8 ("Запустить"), // Russian
    utf8 ("Iniciar"), // Portuguese
    utf8 ("开始"), // Chinese (Simplified)
    utf8 ("開始"), // Chinese (Traditional)
    utf8 ("시작"), // Korean
    utf8 ("開始"), // Japanese
};

const juce::String kTextCancel[kLanguageCount] = {
    utf8 ("Cancel"), // English
    utf8 ("Annuler"), // French
    utf8 ("Abbrechen"), // German
    utf8 ("Cancelar"), // Spanish
    utf8 ("Annulla"), // Italian
    utf8 ("Annuleren"), // Dutch
    utf8 ("Отменить"), // Russian
    utf8 ("Cancelar"), // Portuguese
    utf8 ("取消"), // Chinese (Simplified)
    utf8 ("取消"), // Chinese (Traditional)
    utf8 ("취소"), // Korean
    utf8 ("キャンセル"), // Japanese
};

const juce::String kTextClose[kLanguageCount] = {
    utf8 ("Close"), // English
    utf8 ("Fermer"), // French
    utf8 ("Schließen"), // German
    utf8 ("Cerrar"), // Spanish
    utf8 ("Chiudi"), // Italian
    utf8 ("Sluiten"), // Dutch
    utf8 ("Закрыть"), // Russian
    utf8 ("Fechar"), // Portuguese
    utf8 ("关闭"), // Chinese (Simplified)
    utf8 ("關閉"), // Chinese (Traditional)
    utf8 ("닫기"), // Korean
    utf8 ("終了"), // Japanese
};

const juce::String kTextLanguageTitle[kLanguageCount] = {
    utf8 ("Language Selections"), // English
    utf8 ("Sélection de langue"), // French
    utf8 ("Sprachenwahl"), // German
    utf8 ("Selección de idiomas"), // Spanish
    utf8 ("Scelta della lingua"), // Italian
    utf8 ("Taalkeuze"), // Dutch
    utf8 ("Выбор языка"), // Russian
    utf8 ("Seleção do Idioma"), // Portuguese
    utf8 ("语言选择"), // Chinese (Simplified)
    utf8 ("語言選擇"), // Chinese (Traditional)
    utf8 ("언어"), // Korean
    utf8 ("言語の選択"), // Japanese
};

const juce::String kTextSelectLanguage[kLanguageCount] = {
    utf8 ("Please select a language."), // English
    utf8 ("Veuillez sélectionner une langue."), // French
    utf8 ("Bitte wählen Sie eine Sprache."), // German
    utf8 ("Seleccione un idioma."), // Spanish
    utf8 ("Scegli una lingua."), // Italian
    utf8 ("Kies een taal a.u.b."), // Dutch
    utf8 ("Пожалуйста, выберите язык."), // Russian
    utf8 ("Seleccione um idioma."), // Portuguese
    utf8 ("请选择一种语言。"), // Chinese (Simplified)
    utf8 ("請選擇語言。"), // Chinese (Traditional)
    utf8 ("언어를 선택하십시오."), // Korean
    utf8 ("ご使用になる言語を選択してください。"), // Japanese
};

const juce::String kTextFileError[kLanguageCount] = {
    utf8 ("There is an error in the update file."), // English
    utf8 ("Il y a une erreur dans le fichier de mise à jour."), // French
    utf8 ("Es gibt einen Fehler in der Aktualisierungsdatei."), // German
    utf8 ("Se ha producido un error en el archivo de actualización."), // Spanish
    utf8 ("Si è verificato un errore nel file di aggiornamento."), // Italian
    utf8 ("Er is een fout in het updatebestand."), // Dutch
    utf8 ("Ошибка в файле обновления."), // Russian
    utf8 ("Houve um erro no arquivo de atualização."), // Portuguese
    utf8 ("更新文件出错。"), // Chinese (Simplified)
    utf8 ("檔案更新時出現錯誤。"), // Chinese (Traditional)
    utf8 ("업데이트 파일에 오류가 있습니다."), // Korean
    utf8 ("更新ファイルにエラーがあります。"), // Japanese
};

const juce::String kTextNotConnected[kLanguageCount] = {
    utf8 ("Your %s is not connected."), // English
    utf8 ("Votre %s n'est pas connecté."), // French
    utf8 ("Ihr %s ist nicht angeschlossen."), // German
    utf8 ("Su %s no está conectado."), // Spanish
    utf8 ("Il %s non è collegato."), // Italian
    utf8 ("Uw %s is niet aangesloten."), // Dutch
    utf8 ("Устройство %s не подсоединено."), // Russian
    utf8 ("Seu %s não está conectado."), // Portuguese
    utf8 ("没有连接 %s。"), // Chinese (Simplified)
    utf8 ("未連接 %s。"), // Chinese (Traditional)
    utf8 ("%s가 연결되어 있지 않습니다."), // Korean
    utf8 ("%sが接続されていません。"), // Japanese
};

const juce::String kTextUpdateIntro[kLanguageCount] = {
    utf8 ("Updates the version of your %s firmware."), // English
    utf8 ("Met à jour la version du microprogramme de %s."), // French
    utf8 ("Aktualisiert die Version Ihrer %s Firmware."), // German
    utf8 ("Actualiza la versión del firmware del %s."), // Spanish
    utf8 ("Aggiorna la versione del firmware del %s."), // Italian
    utf8 ("Werkt uw %s firmware bij."), // Dutch
    utf8 ("Обновляет версию Вашего встроенного программного обеспечения %s."), // Russian
    utf8 ("Atualizar a versão do firmware do %s."), // Portuguese
    utf8 ("升级您的%s固件版本。"), // Chinese (Simplified)
    utf8 ("更新%s韌體的版本。"), // Chinese (Traditional)
    utf8 ("%s의 펌웨어 버전을 업데이트 합니다."), // Korean
    utf8 ("%sファームウェアのバージョンアップを行います。"), // Japanese
};

const juce::String kTextCurrentVersion[kLanguageCount] = {
    utf8 ("Current Version: Ver. %s.%02s"), // English
    utf8 ("Version actuelle: Ver. %s.%02s"), // French
    utf8 ("Gegenwärtige Version: Ver. %s.%02s"), // German
    utf8 ("Versión actual: Ver. %s.%02s"), // Spanish
    utf8 ("Versione attualmente installata: %s.%02s"), // Italian
    utf8 ("Huidige versie: Ver. %s.%02s"), // Dutch
    utf8 ("Настоящая версия: Версия %s.%02s"), // Russian
    utf8 ("Versão actual: Ver. %s.%02s"), // Portuguese
    utf8 ("当前版本: Ver. %s.%02s"), // Chinese (Simplified)
    utf8 ("目前版本: %s.%02s版"), // Chinese (Traditional)
    utf8 ("현재 버전: Ver. %s.%02s"), // Korean
    utf8 ("現在のバージョン: Ver%s.%02s"), // Japanese
};

const juce::String kTextUpdateVersion[kLanguageCount] = {
    utf8 ("Update Version: Ver. %s.%02s"), // English
    utf8 ("Version de mise à jour: Ver. %s.%02s"), // French
    utf8 ("Aktualisierte Version: Ver. %s.%02s"), // German
    utf8 ("Versión de actualización: Ver. %s.%02s"), // Spanish
    utf8 ("Versione aggiornata: %s.%02s"), // Italian
    utf8 ("Versie na de update: Ver. %s.%02s"), // Dutch
    utf8 ("Обновленная версия: Версия %s.%02s"), // Russian
    utf8 ("Actualizar versão: Ver. %s.%02s"), // Portuguese
    utf8 ("升级版本: Ver. %s.%02s"), // Chinese (Simplified)
    utf8 ("更新版本: %s.%02s版"), // Chinese (Traditional)
    utf8 ("업데이트 버전: Ver. %s.%02s"), // Korean
    utf8 ("更新バージョン: Ver%s.%02s"), // Japanese
};

const juce::String kTextUpdating[kLanguageCount] = {
    utf8 ("Updating your %s firmware."), // English
    utf8 ("Mise à jour du microprogramme de %s."), // French
    utf8 ("Ihre %s-Firmware wird aktualisiert."), // German
    utf8 ("Actualizando el firmware de su %s."), // Spanish
    utf8 ("Aggiornamento del firmware del %s in corso."), // Italian
    utf8 ("De firmware van uw %swordt bijgewerkt."), // Dutch
    utf8 ("Обновление Вашего встроенного программного обеспечения %s."), // Russian
    utf8 ("Atualizando o firmware do seu% s."), // Portuguese
    utf8 ("升级您的%s固件。"), // Chinese (Simplified)
    utf8 ("更新%s韌體。"), // Chinese (Traditional)
    utf8 ("%s의 펌웨어 업데이트 하기."), // Korean
    utf8 ("%sファームウェアのアップデートを実行中です。"), // Japanese
};

const juce::String kTextPleaseWait[kLanguageCount] = {
    utf8 ("Please wait for a few moments until the update process is complete."), // English
    utf8 ("Veuillez patienter un instant jusqu'à ce que le processus de mise à jour se termine."), // French
    utf8 ("Bitte warten Sie, bis die Aktualisierung abgeschlossen ist."), // German
    utf8 ("Espere unos segundos hasta que el proceso de actualización haya finalizado."), // Spanish
    utf8 ("Si prega di attendere alcuni istanti sino a quando il processo di aggiornamento si completa."), // Italian
    utf8 ("Wacht even tot het updateproces voltooid is."), // Dutch
    utf8 ("Пожалуйста, немного подождите завершения процесса обновления."), // Russian
    utf8 ("A executar a actualização. Aguarde até a actualização estar concluída."), // Portuguese
    utf8 ("请稍候，等待更新过程完成。"), // Chinese (Simplified)
    utf8 ("請等待片刻，直到更新程序完成。"), // Chinese (Traditional)
    utf8 ("업데이트가 끝나기까지 잠시만 기다리십시오."), // Korean
    utf8 ("アップデートが完了するまでしばらくお待ちください。"), // Japanese
};

const juce::String kTextUpdateComplete[kLanguageCount] = {
    utf8 ("The update of your version of the %s firmware is now complete."), // English
    utf8 ("La mise à jour du microprogramme de %s est maintenant terminée."), // French
    utf8 ("Die Aktualisierung der Version Ihrer %s Firmware ist jetzt abgeschlossen."), // German
    utf8 ("La actualización de la versión del firmware del %s ha finalizado."), // Spanish
    utf8 ("L'aggiornamento del %s è stato completato."), // Italian
    utf8 ("Het bijwerken van de firmware van uw %s is nu gereed."), // Dutch
    utf8 ("Обновление версии Вашего встроенного программного обеспечения %s завершено."), // Russian
    utf8 ("A versão foi actualizada."), // Portuguese
    utf8 ("现在已完成%s固件的版本升级。"), // Chinese (Simplified)
    utf8 ("現已完成%s韌體的版本更新作業。"), // Chinese (Traditional)
    utf8 ("버전 업데이트 되었습니다."), // Korean
    utf8 ("%sファームウェアのアップデートが完了しました。"), // Japanese
};

const juce::String kTextErrorOccurred[kLanguageCount] = {
    utf8 ("An error has occurred."), // English
    utf8 ("Une erreur s'est produite."), // French
    utf8 ("Ein Fehler ist aufgetreten."), // German
    utf8 ("Se ha producido un error."), // Spanish
    utf8 ("Si è verificato un errore."), // Italian
    utf8 ("Er is en fout opgetreden."), // Dutch
    utf8 ("Произошла ошибка."), // Russian
    utf8 ("Houve um erro."), // Portuguese
    utf8 ("出现错误。"), // Chinese (Simplified)
    utf8 ("發生錯誤。"), // Chinese (Traditional)
    utf8 ("오류가 발생했습니다."), // Korean
    utf8 ("エラーが発生しました。"), // Japanese
};

const juce::String kTextUpdateFailed[kLanguageCount] = {
    utf8 ("It was not possible to update the program."), // English
    utf8 ("La mise à jour du programme s'est révélé impossible."), // French
    utf8 ("Das Programm kann nicht aktualisiert werden."), // German
    utf8 ("No ha sido posible actualizar el programa."), // Spanish
    utf8 ("Non è stato possibile aggiornare il programma."), // Italian
    utf8 ("Het was niet mogelijk het programma te updaten."), // Dutch
    utf8 ("Было невозможно обновить программу."), // Russian
    utf8 ("Não é possível atualizar o programa."), // Portuguese
    utf8 ("无法更新程序。"), // Chinese (Simplified)
    utf8 ("不能更新程式。"), // Chinese (Traditional)
    utf8 ("프로그램을 업데이트 하지 못했습니다."), // Korean
    utf8 ("アップデートは行われませんでした。"), // Japanese
};

const juce::String kTextSeveralConnected[kLanguageCount] = {
    utf8 ("Several controllers are connected."), // English
    utf8 ("Plusieurs contrôleurs sont connectés."), // French
    utf8 ("Mehrere Controller sind angeschlossen."), // German
    utf8 ("Hay varios controladores conectados."), // Spanish
    utf8 ("Sono collegati più controller."), // Italian
    utf8 ("Er zijn meerdere controllers aangesloten."), // Dutch
    utf8 ("Подключено несколько контроллеров."), // Russian
    utf8 ("Estão ligados vários controladores."), // Portuguese
    utf8 ("已连接多个控制器。"), // Chinese (Simplified)
    utf8 ("已連接多個控制器。"), // Chinese (Traditional)
    utf8 ("여러 대의 컨트롤러가 연결되어 있습니다."), // Korean
    utf8 ("複数のコントローラーが接続されています。"), // Japanese
};

const juce::String kTextWhichController[kLanguageCount] = {
    utf8 ("Which one do you want to update?"), // English
    utf8 ("Lequel voulez-vous mettre à jour ?"), // French
    utf8 ("Welchen möchten Sie aktualisieren?"), // German
    utf8 ("¿Cuál desea actualizar?"), // Spanish
    utf8 ("Quale si desidera aggiornare?"), // Italian
    utf8 ("Welke wilt u bijwerken?"), // Dutch
    utf8 ("Какой из них обновить?"), // Russian
    utf8 ("Qual deseja atualizar?"), // Portuguese
    utf8 ("要更新哪一个？"), // Chinese (Simplified)
    utf8 ("要更新哪一個？"), // Chinese (Traditional)
    utf8 ("어느 컨트롤러를 업데이트하시겠습니까?"), // Korean
    utf8 ("どれをアップデートしますか？"), // Japanese
};

const juce::String kTextControllerRow[kLanguageCount] = {
    utf8 ("Serial %s, port %s"), // English
    utf8 ("N° de série %s, port %s"), // French
    utf8 ("Seriennummer %s, Anschluss %s"), // German
    utf8 ("N.º de serie %s, puerto %s"), // Spanish
    utf8 ("N. di serie %s, porta %s"), // Italian
    utf8 ("Serienummer %s, poort %s"), // Dutch
    utf8 ("Серийный номер %s, порт %s"), // Russian
    utf8 ("N.º de série %s, porta %s"), // Portuguese
    utf8 ("序列号 %s，端口 %s"), // Chinese (Simplified)
    utf8 ("序號 %s，連接埠 %s"), // Chinese (Traditional)
    utf8 ("일련번호 %s, 포트 %s"), // Korean
    utf8 ("シリアル番号 %s、ポート %s"), // Japanese
};

const juce::String kTextSelect[kLanguageCount] = {
    utf8 ("Select"), // English
    utf8 ("Choisir"), // French
    utf8 ("Auswählen"), // German
    utf8 ("Elegir"), // Spanish
    utf8 ("Scegli"), // Italian
    utf8 ("Kiezen"), // Dutch
    utf8 ("Выбрать"), // Russian
    utf8 ("Escolher"), // Portuguese
    utf8 ("选择"), // Chinese (Simplified)
    utf8 ("選擇"), // Chinese (Traditional)
    utf8 ("선택"), // Korean
    utf8 ("選択"), // Japanese
};

const juce::String kTextSerialNotConnected[kLanguageCount] = {
    utf8 ("The controller named with --serial is not connected. Nothing was written."), // English
    utf8 ("Le contrôleur indiqué par --serial n'est pas connecté. Rien n'a été écrit."), // French
    utf8 ("Der mit --serial angegebene Controller ist nicht angeschlossen. Es wurde nichts geschrieben."), // German
    utf8 ("El controlador indicado con --serial no está conectado. No se ha escrito nada."), // Spanish
    utf8 ("Il controller indicato con --serial non è collegato. Non è stato scritto nulla."), // Italian
    utf8 ("De met --serial opgegeven controller is niet aangesloten. Er is niets geschreven."), // Dutch
    utf8 ("Контроллер, указанный в --serial, не подключён. Ничего не записано."), // Russian
    utf8 ("O controlador indicado com --serial não está ligado. Nada foi escrito."), // Portuguese
    utf8 ("未连接以 --serial 指定的控制器。未写入任何内容。"), // Chinese (Simplified)
    utf8 ("未連接以 --serial 指定的控制器。未寫入任何內容。"), // Chinese (Traditional)
    utf8 ("--serial로 지정한 컨트롤러가 연결되어 있지 않습니다. 아무것도 기록되지 않았습니다."), // Korean
    utf8 ("--serial で指定したコントローラーが接続されていません。何も書き込まれていません。"), // Japanese
};

const juce::String kTextControllerHeld[kLanguageCount] = {
    utf8 ("Another program is using this controller. Close it, then start the update again. Nothing was written."), // English
    utf8 ("Un autre programme utilise ce contrôleur. Fermez-le, puis relancez la mise à jour. Rien n'a été écrit."), // French
    utf8 ("Ein anderes Programm verwendet diesen Controller. Beenden Sie es und starten Sie erneut. Nichts wurde geschrieben."), // German
    utf8 ("Otro programa está usando este controlador. Ciérrelo y vuelva a iniciar la actualización. No se ha escrito nada."), // Spanish
    utf8 ("Un altro programma sta usando questo controller. Chiuderlo e riavviare l'aggiornamento. Non è stato scritto nulla."), // Italian
    utf8 ("Een ander programma gebruikt deze controller. Sluit het en start de update opnieuw. Er is niets geschreven."), // Dutch
    utf8 ("Контроллер занят. Закройте другую программу и повторите. Ничего не записано."), // Russian
    utf8 ("Outro programa está a usar este controlador. Feche-o e volte a iniciar a atualização. Nada foi escrito."), // Portuguese
    utf8 ("另一个程序正在使用此控制器。请将其关闭，然后重新开始更新。未写入任何内容。"), // Chinese (Simplified)
    utf8 ("另一個程式正在使用此控制器。請將其關閉，然後重新開始更新。未寫入任何內容。"), // Chinese (Traditional)
    utf8 ("다른 프로그램이 컨트롤러를 사용 중입니다. 종료한 후 다시 시작하십시오. 기록된 내용은 없습니다."), // Korean
    utf8 ("他のプログラムがコントローラーを使用中です。閉じてやり直してください。何も書き込んでいません。"), // Japanese
};

const juce::String* const kTextTables[kTextCount] = {
    kTextEmpty, // TXT_EMPTY
    kTextFamily, // TXT_FAMILY
    kTextModel, // TXT_MODEL
    kTextAppTitle, // TXT_APP_TITLE
    kTextOk, // TXT_OK
    kTextStart, // TXT_START
    kTextCancel, // TXT_CANCEL
    kTextClose, // TXT_CLOSE
    kTextLanguageTitle, // TXT_LANGUAGE_TITLE
    kTextSelectLanguage, // TXT_SELECT_LANGUAGE
    kTextFileError, // TXT_FILE_ERROR
    kTextNotConnected, // TXT_NOT_CONNECTED
    kTextUpdateIntro, // TXT_UPDATE_INTRO
    kTextCurrentVersion, // TXT_CURRENT_VERSION
    kTextUpdateVersion, // TXT_UPDATE_VERSION
    kTextUpdating, // TXT_UPDATING
    kTextPleaseWait, // TXT_PLEASE_WAIT
    kTextUpdateComplete, // TXT_UPDATE_COMPLETE
    kTextErrorOccurred, // TXT_ERROR_OCCURRED
    kTextUpdateFailed, // TXT_UPDATE_FAILED
    kTextSeveralConnected, // TXT_SEVERAL_CONNECTED
    kTextWhichController, // TXT_WHICH_CONTROLLER
    kTextControllerRow, // TXT_CONTROLLER_ROW
    kTextSelect, // TXT_SELECT
    kTextSerialNotConnected, // TXT_SERIAL_NOT_CONNECTED
    kTextControllerHeld, // TXT_CONTROLLER_HELD
};
