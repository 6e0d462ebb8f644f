<?xml version="1.0" encoding="ISO-8859-1"?>
<configuration>
  <!-- Module de facturation SESAM-Vitale : paramètres du poste -->
  <ssvModuleVersion>K220.2014.4.2.0001-01</ssvModuleVersion>
  <lecteur>
    <port>COM1</port>
    <vitesse>9600</vitesse>
  </lecteur>
  <ssvDesactivationControleSpecialitePS>Non</ssvDesactivationControleSpecialitePS>
<!-- Deactivation STS global -->
<ssvDesactivationSTS>Non</ssvDesactivationSTS>
  <teletransmission>
    <active>1</active>
    <repertoire>C:\WORVA32\Teletrans</repertoire>
  </teletransmission>
</configuration>
