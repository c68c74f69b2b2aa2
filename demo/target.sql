-- The demo's target database, empty: the tables the creation XML describes.
create table CLIENTI (ID integer primary key autoincrement, codice integer, nome text, citta text);
create table ARTICOLI (codice text, descrizione text, prezzo real);
create table VENDITE (id integer, cliente text, articolo text, quantita integer, importo real, data text);
