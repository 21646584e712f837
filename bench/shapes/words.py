"""Song titles, artists, albums, genres and labels per language.

Written for this library; each entry is separated by "|". `labels` hold short
texts for descriptions (mood, cover, note, site, chapter, lyrics, studio).
Every text of a language must be encodable in its page (PAGES); the
Western ones must also be Latin-1, since they are stored as right Latin-1.
"""

PAGES = {
    "ru": "cp1251", "uk": "cp1251", "bg": "cp1251",
    "pl": "cp1250", "cs": "cp1250", "hu": "cp1250",
    "el": "cp1253", "tr": "cp1254", "he": "cp1255",
    "ja": "cp932", "zh-hans": "cp936", "ko": "cp949", "zh-hant": "cp950",
    "de": "cp1252", "fr": "cp1252", "es": "cp1252", "pt": "cp1252", "sv": "cp1252",
    "en": "cp1252",
}

WESTERN = ("de", "fr", "es", "pt", "sv")

_RAW = {
    "ru": dict(
        artists="Белая Гвардия|Ночные Огни|Сергей Волков|Анна Морозова|Город Снов|Дмитрий Лебедев|"
                "Северный Ветер|Ольга Соколова|Чёрный Кот|Павел Орлов|Зимний Сад|Екатерина Белова",
        albums="Дорога домой|Песни о главном|Тёплый вечер|Огни большого города|Последний поезд|"
               "Зимняя сказка|Над рекой туман|Старые письма|Белые ночи|Сердце в огне",
        titles="Звезда над морем|Я вернусь весной|Осенний вальс|Не уходи|Прощай, мой друг|Где-то далеко|"
               "Ночь без сна|Любовь и разлука|Дождь за окном|Моя Москва|Летний день|Тишина|"
               "Письмо из прошлого|Белый снег|Ветер перемен|Скажи мне правду|Танцуй со мной|"
               "Колыбельная|Последний звонок|Путь домой|Синие глаза|Утро туманное|Река времени|"
               "Вечная весна|Маленькая страна",
        genres="Русский рок|Эстрада|Шансон|Авторская песня",
        labels="Настроение|Обложка|Примечание|Сайт группы|Глава первая|Текст песни|Студия «Мелодия»"),
    "uk": dict(
        artists="Вогняні Птахи|Марія Коваленко|Тарас Шевчук|Зоряне Небо|Гурт Калина|"
                "Олександр Петренко|Соняшник|Ірина Бондар|Степовий Вітер|Богдан Ткачук",
        albums="Рідна земля|Пісні над Дніпром|Ґанок біля хати|Вишневий сад|Золота осінь|"
               "Мрії та сподівання|Світанок|Їжачок у тумані",
        titles="Весняний дощ|Я тебе кохаю|Їде додому|Серце моє|Біля річки|Ґречна дівчина|"
               "Стежина додому|Пісня про щастя|Журавлі летять|Дівчина з Полтави|Зелені очі|"
               "Світла ніч|Моя Україна|Чорнобривці|Ластівка|Далека дорога|Осінній лист|Повернись|"
               "Є ще надія|Її посмішка",
        genres="Естрада|Народна музика|Рок",
        labels="Настрій|Обкладинка|Примітка|Сайт гурту|Розділ перший|Слова пісні|Студія «Київ»"),
    "bg": dict(
        artists="Синя Птица|Иван Димитров|Мария Петрова|Горски Вятър|Стефан Николов|Нощни Сенки|"
                "Елена Георгиева|Балкански Звезди",
        albums="Пътят към дома|Лятна нощ|Песни за любовта|Стари улици|Морски бриз|Златна есен",
        titles="Обичам те|Моето сърце|Край морето|Нощта е млада|Върни се|Песен за София|"
               "Звезди над Пирин|Слънце мое|Дъжд над града|Сбогом, приятелю|Танц до зори|"
               "Зимна приказка|Сребърна луна|Малко щастие|Далече от дома|Пролетен вятър",
        genres="Поп-фолк|Рок|Естрада",
        labels="Настроение|Корица|Бележка|Сайт на групата|Глава първа|Текст|Студио „Балкантон“"),
    "pl": dict(
        artists="Czerwone Maki|Agnieszka Wójcik|Łukasz Zieliński|Zespół Źródło|Małgorzata Kowalczyk|"
                "Nocny Pociąg|Paweł Wiśniewski|Biała Róża|Grzegorz Kamiński|Szare Niebo",
        albums="Jesień w Krakowie|Żółte liście|Droga do domu|Śpiewaj ze mną|Gwiazdy nad Wisłą|"
               "Miłość i czas|Zaczarowany ogród|Ostatni taniec",
        titles="Zażółć gęślą jaźń|Już nie będę się śmiać|Księżyc nad miastem|Gdzie jesteś|Pójdź ze mną|"
               "Łzy w deszczu|Śnieg na dachu|Żegnaj, kochanie|Wróć do mnie|Ciepły wiatr|Moje serce|"
               "Złota jesień|Nie płacz|Dziewczyna z sąsiedztwa|Noc nad jeziorem|Słońce i cień|Ćma|"
               "Piękny dzień|Wszystko się zmienia|Źródło",
        genres="Rock|Poezja śpiewana|Pop",
        labels="Nastrój|Okładka|Uwaga|Strona zespołu|Rozdział pierwszy|Słowa piosenki|Studio „Łódź”"),
    "cs": dict(
        artists="Modré Nebe|Jiří Dvořák|Kateřina Horáková|Skupina Řeka|Petr Černý|Žlutý Pes|"
                "Lucie Novotná|Tomáš Procházka|Stříbrný Vítr",
        albums="Cesta domů|Písně z Moravy|Noční Praha|Zlatý podzim|Můj svět|Světla města|Ztracené léto",
        titles="Příliš žluťoučký kůň|Až se vrátíš|Růže z Brna|Měsíc nad řekou|Řekni mi pravdu|"
               "Dívka ze snů|Tichá noc|Ještě jednou|Všechno je jinak|Zpívej se mnou|Krásný den|"
               "Vzpomínky|Srdce na dlani|Léto je pryč|Šťastná cesta|Černé oči|Ďábel a anděl|Život je hra",
        genres="Folk|Rock|Pop",
        labels="Nálada|Obal|Poznámka|Stránky skupiny|Kapitola první|Text písně|Studio Dejvice"),
    "hu": dict(
        artists="Kék Madár|Szabó Ákos|Nagy Eszter|Őszi Szél|Kovács Bence|Fekete Rózsa|Tóth Lívia|"
                "Éjféli Vonat",
        albums="Hazafelé|Tűz és víz|Dalok a szerelemről|Csillagos ég|Őszi napok|Régi utcák",
        titles="Árvíztűrő tükörfúrógép|Őszi levél|Hűség|Tűzben égő szív|Szőke nő|Esőcseppek|"
               "Erdő mélyén|Repülő szőnyeg|Emlékező|Fűszál a szélben|Ősz és tavasz|Keserű édes|"
               "Győzelem|Szerelmes szívű lány|Hűvös hajnal|Nyári eső",
        genres="Rock|Pop|Népzene",
        labels="Hangulat|Borító|Megjegyzés|Együttes oldala|Első fejezet|Dalszöveg|Stúdió Óbuda"),
    "el": dict(
        artists="Γαλάζια Θάλασσα|Νίκος Παπαδόπουλος|Μαρία Γεωργίου|Λευκός Άνεμος|Γιώργος Αντωνίου|"
                "Νυχτερινά Φώτα|Ελένη Δημητρίου|Ορφέας",
        albums="Ταξίδι στο φως|Καλοκαίρι στα νησιά|Τραγούδια της αγάπης|Παλιοί δρόμοι|"
               "Αστέρια του Αιγαίου|Μελαγχολία",
        titles="Σ' αγαπώ|Η θάλασσα|Νύχτα χωρίς φεγγάρι|Γύρνα πίσω|Το τελευταίο τρένο|Ουρανός|"
               "Μια μέρα θα δεις|Καλημέρα ήλιε|Όνειρα|Ψιθυρίσματα|Στο λιμάνι|Βροχή στην Αθήνα|"
               "Φθινόπωρο|Ελευθερία|Αγάπη μου|Χορός της αυγής",
        genres="Λαϊκό|Ροκ|Έντεχνο",
        labels="Διάθεση|Εξώφυλλο|Σημείωση|Ιστοσελίδα|Κεφάλαιο πρώτο|Στίχοι|Στούντιο Αθηνών"),
    "tr": dict(
        artists="Mavi Rüzgâr|Ayşe Yılmaz|Mehmet Öztürk|Gece Yolcuları|Zeynep Çelik|Kırmızı Gül|"
                "Emre Şahin|İstanbul Sesleri",
        albums="Eve Dönüş|Boğaz'da Akşam|Aşk Şarkıları|Sonbahar Yaprakları|Yıldızlı Gece|Eski Sokaklar",
        titles="Seni seviyorum|Geri dön|Gözlerin|Yağmur altında|Şimdi değil|Ölümsüz aşk|"
               "Çiçekler açınca|Uzak diyarlar|Gönül yarası|İstanbul'da sabah|Ay ışığı|Kır çiçeği|"
               "Yalnızlık|Düşler|Deniz kenarı|Ağlama",
        genres="Türk pop|Arabesk|Rock",
        labels="Ruh hâli|Kapak|Not|Grup sitesi|Birinci bölüm|Şarkı sözleri|Stüdyo Kadıköy"),
    "he": dict(
        artists="הכוכבים הכחולים|דני לוי|מיכל כהן|רוח מזרחית|יוסי אברהם|לילה לבן|נועה פרידמן|אורות העיר",
        albums="הדרך הביתה|שירי אהבה|קיץ בתל אביב|לילות ירושלים|אור ראשון|זיכרונות",
        titles="אני אוהב אותך|חזור אליי|שיר לשלום|הים הגדול|לילה טוב|ירח מעל העיר|גשם ראשון|"
               "בוקר חדש|עיניים שלך|רחוק מכאן|שמש של חורף|ריקוד אחרון|הלב שלי|סתיו|מכתב מאמא|שביל בהרים",
        genres="פופ|רוק|מזרחית",
        labels="מצב רוח|עטיפה|הערה|אתר הלהקה|פרק ראשון|מילות השיר|אולפן חיפה"),
    "ja": dict(
        artists="青い空|山田太郎|佐藤花子|夜明けの鐘|鈴木一郎|桜並木|高橋美咲|星屑ドライブ",
        albums="帰り道|夏の終わり|東京の夜|花の歌|遠い記憶|雪の降る町",
        titles="君に会いたい|さくら色の風|夜空の星|ありがとう|ふるさと|雨の日曜日|約束の場所|"
               "涙のあとで|春の予感|海へ行こう|赤いスカーフ|明日への手紙|恋の季節|ひとりぼっち|"
               "光の中へ|さよなら夏休み",
        genres="歌謡曲|ロック|演歌",
        labels="気分|ジャケット|メモ|公式サイト|第一章|歌詞|録音スタジオ"),
    "zh-hans": dict(
        artists="蓝色天空|王小明|李静|北方的风|张伟|月光乐队|陈丽|城市之光",
        albums="回家的路|夏天的故事|北京之夜|花开时节|遥远的记忆|雪花飘飘",
        titles="想念你|春天来了|星空下|再见朋友|雨中漫步|远方的家|青春无悔|夜色温柔|海边的风|"
               "梦里花开|时间的河|你的微笑|黄昏之后|心中的歌|灯火阑珊|爱的旋律",
        genres="流行|摇滚|民谣",
        labels="心情|封面|备注|乐队网站|第一章|歌词|录音室"),
    "zh-hant": dict(
        artists="藍色天空|王小明|林美華|北方的風|張偉|月光樂團|陳麗|城市之光",
        albums="回家的路|夏天的故事|臺北之夜|花開時節|遙遠的記憶|雪花飄飄",
        titles="想念你|春天來了|星空下|再見朋友|雨中漫步|遠方的家|青春無悔|夜色溫柔|海邊的風|"
               "夢裡花開|時間的河|你的微笑|黃昏之後|心中的歌|燈火闌珊|愛的旋律",
        genres="流行|搖滾|民謠",
        labels="心情|封面|備註|樂團網站|第一章|歌詞|錄音室"),
    "ko": dict(
        artists="푸른 하늘|김민준|이서연|바람의 노래|박지훈|별빛 밴드|최수아|도시의 밤",
        albums="집으로 가는 길|여름날의 기억|서울의 밤|꽃이 피면|먼 훗날|첫눈",
        titles="사랑해요|보고 싶다|봄이 오면|밤하늘의 별|고마워요|비 오는 날|우리의 약속|눈물의 노래|"
               "바다로 가자|내일을 향해|그대 곁에|혼자가 아니야|빛 속으로|안녕 여름|너의 목소리|추억",
        genres="가요|록|발라드",
        labels="분위기|표지|메모|공식 사이트|제1장|가사|녹음실"),
    "de": dict(
        artists="Die Blauen Reiter|Jürgen Müller|Sabine Köhler|Nachtschwärmer|Günter Weiß|"
                "Sternenstaub|Maximilian Groß|Fräulein Wunder",
        albums="Heimweh|Große Freiheit|Lieder für Übermorgen|Süße Träume|Straßenmusik|Märchenwald",
        titles="Café Müller|Schön ist die Nacht|Grüße aus Köln|Weißer Schnee|Träume aus Glas|"
               "Für immer dein|Über die Brücke|Mädchen am Fenster|Frühling in Wien|Hör mir zu|"
               "Zwölf Uhr|Sommerregen|Glück auf|Der schöne Tag|Größer als wir|Auf Wiedersehen",
        genres="Schlager|Liedermacher|Rock",
        labels="Stimmung|Titelbild|Anmerkung|Webseite der Band|Erstes Kapitel|Liedtext|Tonstudio Köln"),
    "fr": dict(
        artists="Les Étoiles Filantes|Hélène Dubois|François Lefèvre|Café Crème|Amélie Rousseau|"
                "Noël et les Garçons|Jérôme Garnier|Chloé Mercier",
        albums="Noël à Paris|Chansons d'hier|Rêves de Provence|Là-bas|Mélodie du soir|À la gare",
        titles="Ça plane pour moi|Noël à Paris|Où es-tu|Déjà vu|Le café du coin|Rêverie|"
               "La forêt enchantée|Été|Fenêtre sur cour|Je t'écris|À demain|Chanson pour Élise|"
               "Première fois|Très loin d'ici|Garçon|Fête foraine",
        genres="Chanson française|Variété|Rock",
        labels="Humeur|Pochette|Remarque|Site du groupe|Premier chapitre|Paroles|Studio Ferrière"),
    "es": dict(
        artists="Los Niños del Sol|María José Núñez|Andrés Peña|La Canción Perdida|Sofía Ibáñez|"
                "Corazón Salvaje|Julián Muñoz|Las Olas",
        albums="Ridículo|Canciones de otoño|Mañana será|Corazón de España|Días de verano|Noche en Sevilla",
        titles="Ridículo|Mañana|Corazón partido|Qué será|La canción del niño|Año nuevo|"
               "Camión de bomberos|Pequeña|Adiós amor|Tú y yo|Sueño de una noche|Volveré|"
               "Dónde estás|Música en la calle|El último baile|Alegría",
        genres="Pop latino|Flamenco|Rock en español",
        labels="Estado de ánimo|Portada|Nota|Página del grupo|Capítulo uno|Letra|Estudio Peñón"),
    "pt": dict(
        artists="Os Pássaros|João Gonçalves|Conceição Araújo|Saudade Azul|Inês Simões|Estrela do Mar|"
                "Sebastião Lopes|Coração de Lisboa",
        albums="Saudade|Canções do mar|Noites de Lisboa|Verão azul|Coração aberto|Lágrimas de São João",
        titles="Não vou chorar|Coração|Manhã de sol|Lição de amor|Avião de papel|Você e eu|"
               "Só mais uma vez|Pão e vinho|Maçã do amor|Amanhã|Ilusão|Estação das flores|Tão longe|"
               "Irmão|Canção da rua|Saudade",
        genres="Fado|MPB|Samba",
        labels="Humor|Capa|Observação|Página da banda|Capítulo um|Letra|Estúdio Alcântara"),
    "sv": dict(
        artists="Blå Vågor|Åsa Lindström|Björn Ekström|Norrsken|Märta Sjöberg|Höstlöv|Göran Åkesson|"
                "Sjöjungfrun",
        albums="Sommarnätter|Över ängarna|Hälsningar från Göteborg|Vintersaga|Midsommar|Fjärran land",
        titles="Vår i Stockholm|Älskar dig|Hösten kommer|Över havet|Ensam på ön|Snö på marken|"
               "Röda stugan|Sista dansen|Jag väntar|Måndag morgon|Glöm mig ej|Fåglarna|"
               "Kärlek och vänskap|Nära dig|Öarna|Hemma igen",
        genres="Visa|Pop|Folkmusik",
        labels="Stämning|Omslag|Anteckning|Bandets webbplats|Första kapitlet|Sångtext|Studio Söder"),
    "en": dict(
        artists="The Quiet Hours|Sarah Miller|Northern Lights|John Carter|Paper Boats|Emily Stone|"
                "Silver Lake|The Night Shift",
        albums="Home Again|Summer Tapes|City Lights|Long Way Down|Open Road|Winter Songs",
        titles="Hold On|Running Home|Closer to You|Late Night Radio|Paper Heart|Out of Time|"
               "Stay With Me|Golden Hour|Rain on the Roof|Little Things|Move Along|Say Goodbye|"
               "The Last Dance|Bright Side|Far Away|Ten Miles Out",
        genres="Rock|Pop|Indie",
        labels="Mood|Cover|Note|Band site|Chapter one|Lyrics|Studio B"),
}

# English titles with typographic quotes, apostrophes, dashes and ellipses:
# right UTF-16 text whose units lie above U+00FF.
PUNCTUATION_TITLES = (
    "Don\u2019t Look Back|\u201cHeroes\u201d \u2014 Live|Side A \u2013 Side B|\u2026and Then Some|"
    "Rock \u2019n\u2019 Roll Tonight|It\u2019s Only Words|\u201cHello,\u201d She Said|"
    "1999\u20132004|Wait \u2014 Not Yet|She\u2019s Gone \u2026 Again|\u2018Round Midnight Blues"
).split("|")

# Fields kept per language: artists, albums, titles, genres, labels.
WORDS = {lang: {field: text.split("|") for field, text in fields.items()}
         for lang, fields in _RAW.items()}

# The three Western titles of a mixed folder that must never be touched.
COMPILATION_WESTERN = (("Noël à Paris", "fr"), ("Ridículo", "es"), ("Café Müller", "de"))

LABEL_MOOD, LABEL_COVER, LABEL_NOTE, LABEL_SITE, LABEL_CHAPTER, LABEL_LYRICS, LABEL_STUDIO = range(7)
